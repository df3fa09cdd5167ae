#pragma once

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

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
    void TearDown() override { ::unsetenv("VEDEREVE_REGISTRY"); }

    const std::string &dbPath() const { return m_path; }
    std::string folder() const { return m_dir.path().toStdString(); }

private:
    QTemporaryDir m_dir;
    std::string m_path;
};
