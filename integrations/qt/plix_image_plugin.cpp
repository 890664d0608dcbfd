// The image-format plugin: keys plx and plix, MIME type image/x-plix.
#include <QImageIOPlugin>

#include "plix_image_handler.h"

class PlixImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "plix.json")

public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override {
        if (format == "plx" || format == "plix") return CanRead | CanWrite;
        if (!format.isEmpty() || !device || !device->isOpen()) return {};
        Capabilities caps;
        if (device->isReadable() && PlixImageHandler::canRead(device)) caps |= CanRead;
        if (device->isWritable()) caps |= CanWrite;
        return caps;
    }

    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override {
        auto *handler = new PlixImageHandler;
        handler->setDevice(device);
        handler->setFormat(format.isEmpty() ? QByteArray("plx") : format);
        return handler;
    }
};

#include "plix_image_plugin.moc"
