// The installed programs' command-line manners, each started as a person at a bare shell starts
// it: no display, no session bus, nothing in the environment at all (env -i).

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

namespace {

struct Program
{
    const char *path;
    const char *name;
    bool takesQtOptions;
};

const Program kPrograms[] = {
    {VEDEREVE_SERVER, "VE_DerEve", true},
    {VEDEREVE_REG_TOOL, "vedereve-reg", false},
    {VEDEREVE_DEMO, "vedereve-demo", true},
};

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome runBare(const Program &program, const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/env"),
                  QStringList {QStringLiteral("-i"), QString::fromLocal8Bit(program.path)}
                      + arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(ProgramManners, HelpAndVersionAnswerOnStandardOutputWithoutDisplayOrBus)
{
    const QString version = QStringLiteral(VEDEREVE_VERSION);
    for (const Program &program : kPrograms) {
        SCOPED_TRACE(program.name);
        std::vector<QStringList> asks = {{QStringLiteral("--help")}, {QStringLiteral("--version")}};
        // Qt's own options come first and are taken by Qt, not refused.
        if (program.takesQtOptions)
            asks.push_back({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                            QStringLiteral("--version")});
        for (const QStringList &ask : asks) {
            SCOPED_TRACE(ask.join(u' ').toStdString());
            const Outcome r = runBare(program, ask);
            EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
            // Answered before any window system starts, so not even Qt's warnings about a bare
            // environment appear.
            if (ask.size() == 1) {
                EXPECT_EQ(r.err, QString());
            }
            if (ask.last() == u"--version") {
                EXPECT_EQ(r.out, QStringLiteral("%1 %2\n").arg(program.name, version));
            } else {
                EXPECT_TRUE(r.out.contains(QStringLiteral("Usage:"))) << r.out.toStdString();
                EXPECT_TRUE(r.out.contains(QLatin1StringView(program.name)));
            }
        }
    }
}

TEST(ProgramManners, WhatAProgramCannotReadGetsAShortUsageOnStandardErrorAndExitCode2)
{
    for (const Program &program : kPrograms) {
        SCOPED_TRACE(program.name);
        std::vector<QStringList> wrong = {{QStringLiteral("--no-such-option")}};
        if (program.takesQtOptions)
            wrong.push_back({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                             QStringLiteral("stray")});
        for (const QStringList &arguments : wrong) {
            SCOPED_TRACE(arguments.join(u' ').toStdString());
            const Outcome r = runBare(program, arguments);
            EXPECT_EQ(r.exitCode, 2) << r.out.toStdString() << r.err.toStdString();
            EXPECT_EQ(r.out, QString());
            EXPECT_TRUE(r.err.contains(QStringLiteral("Usage:"))) << r.err.toStdString();
            EXPECT_LE(r.err.count(u'\n'), 6) << "not short: " << r.err.toStdString();
        }
    }
}

} // namespace
