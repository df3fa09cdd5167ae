#include "JpegTestSupport.h"

#include "platform/picture/PictureLoader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <utility>

using namespace jpegtest;
using platform::picture::loadFromBytes;
using platform::picture::loadFromFile;

namespace {

// The picture loader's warnings since the last look.
QStringList g_warnings;
void noteWarning(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && QByteArrayView(context.category) == "vedereve.platform.picture")
        g_warnings.append(text);
}

QString write(const QTemporaryDir &dir, const char *name, QByteArrayView bytes)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), bytes.size());
    return file.fileName();
}

} // namespace

// Every file refused gets one warning that names the file and says why; a good one gets none.
TEST(PictureLoader, EachRefusedFileIsNamedInTheLogWithItsReason)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString sparse = write(dir, "sparse.png", "");
    ASSERT_EQ(::truncate(QFile::encodeName(sparse).constData(), 1LL << 30), 0);
    const QString text = write(dir, "notes.png", "not a picture");
    const Bytes png = pictureFile(testPicture(16, 16), "PNG");
    // A BMP whose header claims 30000 x 30000 pixels (3.6 GB decoded) in a file of a few bytes.
    Bytes hugeBmp = pictureFile(testPicture(4, 4), "BMP");
    const qint32 huge = 30000;
    for (const int at : {18, 22}) // width and height
        std::memcpy(hugeBmp.data() + at, &huge, 4);

    const std::pair<QString, QString> cases[] = {
        {dir.path(), "a folder, not a regular file"},
        {"/dev/zero", "a character device, not a regular file"},
        {fifo, "a FIFO, not a regular file"},
        {sparse, "1073741824 bytes, more than the 33554432 a picture file may have"},
        {dir.filePath("missing.png"), "cannot open it: No such file or directory"},
        {text + "/inside.png", "cannot open it: Not a directory"},
        {text, "not a picture that can be read"},
        {write(dir, "cut.png", QByteArrayView(png).first(qsizetype(png.size() / 3))),
         "not a picture that can be read"},
        {write(dir, "huge.bmp", hugeBmp), "not a picture that can be read"},
        {write(dir, "empty.png", ""), "an empty file"},
    };
    const QtMessageHandler previous = qInstallMessageHandler(noteWarning);
    for (const auto &[path, reason] : cases) {
        EXPECT_FALSE(loadFromFile(path)) << path.toStdString();
        const QStringList lines = std::exchange(g_warnings, {});
        ASSERT_EQ(lines.size(), 1) << path.toStdString();
        EXPECT_TRUE(lines[0].startsWith("picture file " + path + " refused: " + reason))
            << lines[0].toStdString();
    }
    EXPECT_TRUE(loadFromFile(write(dir, "good.png", png)));
    // Bytes from another process are checked alike, without a warning.
    EXPECT_TRUE(loadFromBytes(png.data(), png.size()));
    EXPECT_FALSE(loadFromBytes(hugeBmp.data(), hugeBmp.size()) || loadFromBytes(nullptr, 10));
    qInstallMessageHandler(previous);
    EXPECT_TRUE(g_warnings.isEmpty());
}
