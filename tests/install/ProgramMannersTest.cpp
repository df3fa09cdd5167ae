// The installed programs' command-line manners, each started as a person at a bare shell starts
// it: no display, no session bus, nothing in the environment at all (env -i).

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <string>
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
    std::string out;
    std::string err;
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
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

TEST(ProgramManners, HelpAndVersionAnswerOnStandardOutputWithoutDisplayOrBus)
{
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
            EXPECT_EQ(r.exitCode, 0) << r.err;
            // Answered before any window system starts, so not even Qt's warnings about a bare
            // environment appear.
            if (ask.size() == 1) {
                EXPECT_EQ(r.err, "");
            }
            if (ask.last() == u"--version") {
                EXPECT_EQ(r.out, std::string(program.name) + " " + VEDEREVE_VERSION + "\n");
            } else {
                EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
                EXPECT_NE(r.out.find(program.name), std::string::npos) << r.out;
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
            EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
            EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 6) << "not short: " << r.err;
        }
    }
}

} // namespace
