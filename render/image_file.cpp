#include "render/image_file.h"

#include "platform/output_files.h"

#include <QBuffer>
#include <QImageWriter>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qm {

std::optional<QByteArray> ImageFormatForName(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? path.mid(dot + 1).toLower() : QString();
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg"))
        return QByteArray("jpg");
    if (extension == QLatin1String("bmp")) return QByteArray("bmp");
    if (extension == QLatin1String("png")) return QByteArray("png");
    return std::nullopt;
}

bool WriteImageFile(OutputFiles& outputs, const QImage& image, const std::string& path,
                    const QByteArray& format, std::string& error) {
    // The picture is encoded first, so a failing encoder creates no file.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) {
        error = path + ": " + writer.errorString().toStdString();
        return false;
    }
    FILE* file = outputs.Create(path, error);
    if (!file) return false;
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size());
    const int why = errno;
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    error = path + ": " + std::strerror(written ? errno : why);
    return false;
}

} // namespace qm
