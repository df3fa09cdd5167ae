#pragma once

#include "platform/registry/Registry.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace reg = platform::registry;

// Lets failures show texts rather than UTF-16 code units.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// Points the registry at a database of its own in a fresh temporary folder for each test.
class TempRegistry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("reg/registry.sqlite")).toStdString();
        ::setenv("VEDEREVE_REGISTRY", m_path.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VEDEREVE_REGISTRY");
        reg::setWaitClock(nullptr);
    }

    const std::string &dbPath() const { return m_path; }
    std::string folder() const { return m_dir.path().toStdString(); }

private:
    QTemporaryDir m_dir;
    std::string m_path;
};

inline bool keyExists(std::string_view path)
{
    reg::RegKey key;
    return reg::RegKey::openCurrentUser(path, key) == reg::ERROR_SUCCESS;
}

// A text as stored: its bytes and the terminating zero.
inline reg::RegStatus setText(reg::RegKey &key, std::string_view name, std::string_view text)
{
    const std::string bytes = std::string(text) + '\0';
    return key.setValue(name, reg::REG_SZ, reinterpret_cast<const std::byte *>(bytes.data()),
                        std::uint32_t(bytes.size()));
}

// The stored bytes of a value, or "<missing>".
inline std::string readBytes(const reg::RegKey &key, std::string_view name,
                             std::uint32_t *type = nullptr)
{
    std::uint32_t size = 0;
    if (key.queryValue(name, type, nullptr, &size) != reg::ERROR_SUCCESS)
        return "<missing>";
    std::string bytes(size, '\0');
    key.queryValue(name, nullptr, reinterpret_cast<std::byte *>(bytes.data()), &size);
    bytes.resize(size);
    return bytes;
}

inline std::string readBytes(std::string_view path, std::string_view name,
                             std::uint32_t *type = nullptr)
{
    reg::RegKey key;
    return reg::RegKey::openCurrentUser(path, key) == reg::ERROR_SUCCESS
        ? readBytes(key, name, type)
        : "<missing>";
}

inline std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

struct ToolResult
{
    int exitCode = -1;
    QString out, err;
};

// Runs the vedereve-reg executable; it inherits the test's database.
inline ToolResult runTool(const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(QStringLiteral(VEDEREVE_REG_TOOL), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
