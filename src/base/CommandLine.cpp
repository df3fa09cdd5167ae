#include "base/CommandLine.h"

#include "VEDerEveVersion.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace cli {

namespace {

constexpr int kUsageError = 2;

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

CommandLine::CommandLine(const QString &name, const QString &summary)
    : m_name(name), m_help({QStringLiteral("h"), QStringLiteral("help")},
                           QStringLiteral("Show this help and exit.")),
      m_version({QStringLiteral("v"), QStringLiteral("version")},
                QStringLiteral("Show the version and exit."))
{
    m_parser.setApplicationDescription(summary);
    m_parser.addOption(m_help);
    m_parser.addOption(m_version);
}

std::optional<int> CommandLine::answerEarly(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!m_parser.parse(arguments) || !(m_parser.isSet(m_help) || m_parser.isSet(m_version)))
        return std::nullopt;
    // The help text names the program as it was started, which it learns from an application
    // object; a core one needs no window system.
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    return answer();
}

std::optional<int> CommandLine::parse(const QStringList &arguments)
{
    if (!m_parser.parse(arguments)) {
        print(stderr,
              QStringLiteral("%1: %2\nUsage: %1 [options]\nTry '%1 --help' for more.\n")
                  .arg(m_name, m_parser.errorText()));
        return kUsageError;
    }
    if (!m_parser.positionalArguments().isEmpty()) {
        print(stderr,
              QStringLiteral("%1: unexpected argument '%2'\nUsage: %1 [options]\n")
                  .arg(m_name, m_parser.positionalArguments().constFirst()));
        return kUsageError;
    }
    return answer();
}

std::optional<int> CommandLine::answer()
{
    if (m_parser.isSet(m_help)) {
        print(stdout, m_parser.helpText());
        return 0;
    }
    if (m_parser.isSet(m_version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(m_name, QLatin1StringView(kVEDerEveVersion)));
        return 0;
    }
    return std::nullopt;
}

} // namespace cli
