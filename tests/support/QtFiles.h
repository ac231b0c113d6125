#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable QStrings and byte arrays in GoogleTest's messages (found there by argument-dependent lookup).
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"' << bytes.toStdString() << '"';
}

namespace velmora::test {

// The whole file replaced by the bytes; a file that cannot be written ends the test program.
void writeBytes(const QString& path, const QByteArray& bytes);
// The file's bytes, empty when it cannot be read.
QByteArray readBytes(const QString& path);

} // namespace velmora::test
