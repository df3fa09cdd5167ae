// The programs' command-line manners, started as at a bare shell: nothing in the environment.

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
    std::string out, err;
};

Outcome runBare(const Program &program, const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/env"),
                  QStringList {QStringLiteral("-i"), QString::fromLocal8Bit(program.path)}
                      + arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return {}; // the process is killed as it goes
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

TEST(ProgramManners, HelpAndVersionAnswerOnStandardOutputAndMistakesGetAShortUsageAndCode2)
{
    const struct
    {
        QStringList arguments;
        bool qtOnly; // Qt's own options come first and are taken by Qt, not refused
        int exitCode;
    } asks[] = {
        {{"--help"}, false, 0},
        {{"--version"}, false, 0},
        {{"-platform", "offscreen", "--version"}, true, 0},
        {{"--no-such-option"}, false, 2},
        {{"-platform", "offscreen", "stray"}, true, 2},
    };
    for (const Program &program : kPrograms) {
        for (const auto &ask : asks) {
            if (ask.qtOnly && !program.takesQtOptions)
                continue;
            SCOPED_TRACE(std::string(program.name) + " " + ask.arguments.join(u' ').toStdString());
            const Outcome r = runBare(program, ask.arguments);
            EXPECT_EQ(r.exitCode, ask.exitCode) << r.out << r.err;
            if (ask.exitCode != 0) {
                EXPECT_TRUE(r.out.empty() && r.err.find("Usage:") != std::string::npos
                            && std::ranges::count(r.err, '\n') <= 6)
                    << "no short usage: " << r.out << r.err;
            } else if (ask.arguments.last() == u"--version") {
                EXPECT_EQ(r.out, std::string(program.name) + " " + VEDEREVE_VERSION + "\n");
            } else {
                EXPECT_TRUE(r.out.find("Usage:") != std::string::npos
                            && r.out.find(program.name) != std::string::npos)
                    << r.out;
            }
            // Answered before any window system starts: not even Qt's warnings appear.
            EXPECT_TRUE(ask.exitCode != 0 || ask.arguments.size() > 1 || r.err.empty()) << r.err;
        }
    }
}

} // namespace
