#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "platform/library.h"
#include "plix/plix.h"

namespace {

constexpr const char *kViewerVersion = "1.0.0.1";

}  // namespace

CommandLineInfo ParseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows a BMP, PLIX or other picture file at 50, 100 or 200 %, and saves a picture\n"
        "as PLIX, or a PLIX picture as BMP."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The picture to open."),
                                 QStringLiteral("[file]"));

    CommandLineInfo info;
    const bool parsed = parser.parse(arguments);
    const bool texts = QCoreApplication::instance() != nullptr;
    // Help and version win over anything else on the line.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        info.action = CommandLineInfo::ShowHelp;
        if (texts) info.text = parser.helpText();
    } else if (parser.isSet(version)) {
        info.action = CommandLineInfo::ShowVersion;
        if (texts) info.text = VersionText(plix::platform::CodecLibraryFileName());
    } else if (!parsed || parser.positionalArguments().size() > 1) {
        info.action = CommandLineInfo::Fail;
        info.text = (parsed ? QStringLiteral("Only one file can be opened.") : parser.errorText()) +
                    QStringLiteral("\nTry '--help' for more information.\n");
    } else if (!parser.positionalArguments().isEmpty()) {
        info.file = parser.positionalArguments().front();
    }
    return info;
}

QString VersionText(const char *libraryName) {
    QString text = QStringLiteral("Plixref %1\n").arg(QLatin1String(kViewerVersion));
    const QString name = QString::fromLocal8Bit(libraryName);
    plix::platform::Library library;
    if (!library.Load(libraryName))
        return text + QStringLiteral("PLIX library %1: not found\n").arg(name);
    auto create = reinterpret_cast<PLIX_ConstructorFn>(library.Symbol("PLIX_Constructor"));
    auto destroy = reinterpret_cast<PLIX_DestructorFn>(library.Symbol("PLIX_Destructor"));
    plix::CodecHandle codec(create, destroy);
    if (!codec) return text + QStringLiteral("PLIX library %1: no codec\n").arg(name);
    const int32_t v = codec.version();
    // Major and minor as two hexadecimal fields, as the converter prints them.
    return text + QStringLiteral("PLIX library %1 version %2.%3\n")
                      .arg(name)
                      .arg(static_cast<unsigned>(v) >> 8, 0, 16)
                      .arg(static_cast<unsigned>(v) & 0xFF, 2, 16, QLatin1Char('0'));
}
