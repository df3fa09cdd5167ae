#include "RegTool.h"

#include <QString>
#include <QtGlobal>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    // The store says in one line why it refused a folder or a file; a user of the tool reads it
    // as it is, before the tool's own error line.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::cerr << message.toLocal8Bit().constData() << std::endl;
    });
    const std::vector<std::string> args(argv + 1, argv + argc);
    return regtool::run(args, std::cin, std::cout, std::cerr);
}
