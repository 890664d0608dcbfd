// Reads and writes PLIX images for any Qt application through the library.
#pragma once

#include <QByteArray>
#include <QImageIOHandler>

class PlixImageHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage *image) override;
    bool write(const QImage &image) override;

    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant &value) override;
    bool supportsOption(ImageOption option) const override;

    // Recognises the content without consuming it.
    static bool canRead(QIODevice *device);
    static QList<QByteArray> subTypes();

private:
    int quality_ = -1;
    QByteArray subType_ = "YUV";
};
