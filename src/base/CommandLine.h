#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

// The command-line manners every installed program shares: --help and --version print to
// standard output and end with 0; an unknown option, a missing value or a stray argument prints
// a short usage to standard error and ends with 2. Qt's own options (-platform, -display, ...)
// are taken by the application object before the program's own are read.
namespace cli {

class CommandLine final
{
public:
    // name: the installed program's name; summary: what it is, in one line for --help.
    CommandLine(const QString &name, const QString &summary);

    // The program's own options, to add to before parsing.
    QCommandLineParser &parser() { return m_parser; }

    // Before the application object exists: answers --help and --version straight away, so that
    // they need neither a display nor a bus. Returns the exit code when it answered; nothing when
    // the program goes on (also when the arguments hold options only Qt knows: those are read
    // once the application object has taken Qt's own).
    std::optional<int> answerEarly(int argc, char **argv);
    // With the application object's arguments (Qt's own removed): the exit code when the program
    // is to end now, nothing when it goes on with the options in parser().
    std::optional<int> parse(const QStringList &arguments);

private:
    std::optional<int> answer();

    QString m_name;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
};

} // namespace cli
