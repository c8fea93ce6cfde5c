#pragma once
// Still pictures written as files: the format chosen by the name, the file
// created through the run's OutputFiles like every other output.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>
#include <string>

namespace qm {

class OutputFiles;

// "jpg" for .jpg and .jpeg, "bmp", "png" (any case); nullopt for anything else.
std::optional<QByteArray> ImageFormatForName(const QString& path);

// Encodes `image` in `format` and writes it to `path`. False with `error`
// when the name is refused, the encoder fails or the file cannot be written.
bool WriteImageFile(OutputFiles& outputs, const QImage& image, const std::string& path,
                    const QByteArray& format, std::string& error);

} // namespace qm
