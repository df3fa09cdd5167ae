#include "JpegTestSupport.h"

#include "platform/picture/PictureLoader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <utility>

using jpegtest::Bytes;
using platform::picture::loadFromBytes;
using platform::picture::loadFromFile;

namespace {

std::optional<QImage> load(const Bytes &bytes)
{
    return loadFromBytes(bytes.data(), bytes.size());
}

} // namespace

TEST(PictureLoader, RefusesWhatIsNoPictureOrTooLarge)
{
    const Bytes png = jpegtest::pictureFile(jpegtest::testPicture(16, 16), "PNG");
    // A BMP whose header claims 30000 x 30000 pixels (3.6 GB decoded) in a file of a few bytes.
    Bytes hugeBmp = jpegtest::pictureFile(jpegtest::testPicture(4, 4), "BMP");
    ASSERT_GT(hugeBmp.size(), 26u);
    const qint32 huge = 30000;
    std::memcpy(hugeBmp.data() + 18, &huge, 4);
    std::memcpy(hugeBmp.data() + 22, &huge, 4);
    const std::pair<const char *, Bytes> cases[] = {
        {"text", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'}},
        {"a single byte", {'B'}},
        {"a picture cut short", Bytes(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 3))},
        {"a huge declared size", hugeBmp},
    };
    for (const auto &[name, bytes] : cases)
        EXPECT_FALSE(load(bytes)) << name;
    EXPECT_FALSE(loadFromBytes(nullptr, 10));
    EXPECT_FALSE(loadFromFile(QStringLiteral("/nonexistent/picture.bmp")));
}

namespace {

// The warnings of the picture loader's category while it lives.
class LoaderWarnings
{
public:
    LoaderWarnings()
    {
        s_lines = &m_lines;
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (type == QtWarningMsg
                    && QByteArrayView(context.category) == "vedereve.platform.picture")
                    s_lines->append(text);
            });
    }
    ~LoaderWarnings()
    {
        qInstallMessageHandler(m_previous);
        s_lines = nullptr;
    }
    QStringList take() { return std::exchange(m_lines, {}); }

private:
    static inline QStringList *s_lines = nullptr;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

// Every file refused gets one warning that names the file and says why; a good one gets none.
TEST(PictureLoader, EachRefusedFileIsNamedInTheLogWithItsReason)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString sparse = dir.filePath("sparse.png");
    ASSERT_EQ(::truncate(QFile::encodeName(sparse).constData(), 0), -1); // not there yet
    QFile(sparse).open(QIODevice::WriteOnly);
    ASSERT_EQ(::truncate(QFile::encodeName(sparse).constData(), 1LL << 30), 0);
    const QString text = dir.filePath("notes.png");
    QFile notes(text);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("not a picture") > 0);
    notes.close();
    const QString empty = dir.filePath("empty.png");
    QFile(empty).open(QIODevice::WriteOnly);
    const QString good = dir.filePath("good.png");
    ASSERT_TRUE(jpegtest::testPicture(8, 8).save(good));

    const std::pair<QString, QString> cases[] = {
        {dir.path(), "a folder, not a regular file"},
        {"/dev/zero", "a character device, not a regular file"},
        {fifo, "a FIFO, not a regular file"},
        {sparse, "1073741824 bytes, more than the 33554432 a picture file may have"},
        {dir.filePath("missing.png"), "cannot open it: No such file or directory"},
        {text + "/inside.png", "cannot open it: Not a directory"},
        {text, "not a picture that can be read"},
        {empty, "an empty file"},
    };
    LoaderWarnings warnings;
    for (const auto &[path, reason] : cases) {
        EXPECT_FALSE(loadFromFile(path)) << path.toStdString();
        const QStringList lines = warnings.take();
        ASSERT_EQ(lines.size(), 1) << path.toStdString();
        EXPECT_TRUE(lines[0].startsWith("picture file " + path + " refused: " + reason))
            << lines[0].toStdString();
    }
    EXPECT_TRUE(loadFromFile(good));
    EXPECT_TRUE(warnings.take().isEmpty());
}

// Another user's private picture is refused as unreadable, and the log says so. Root reads
// anything, so as root the file is looked at from the nobody user.
TEST(PictureLoader, AnotherUsersPrivateFileIsRefusedAsUnreadable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("theirs.png");
    ASSERT_TRUE(jpegtest::testPicture(8, 8).save(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    const auto refusedAsUnreadable = [&] {
        LoaderWarnings warnings;
        const bool loaded = bool(loadFromFile(path));
        const QStringList lines = warnings.take();
        return !loaded && lines.size() == 1
            && lines[0].endsWith("cannot open it: Permission denied");
    };
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
        EXPECT_TRUE(refusedAsUnreadable());
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(refusedAsUnreadable() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "cannot switch to the nobody user here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
