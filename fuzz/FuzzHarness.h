#pragma once

#include <QByteArray>

// What every fuzz target sets up once (an offscreen App, the target's state T), never destroyed:
// libFuzzer exits without unwinding, and what the inputs reach must outlive every one of them.
namespace fuzzharness {

template<class App> App *application(const char *name)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char *argv[] = {const_cast<char *>(name), nullptr};
    return new App(argc, argv);
}

template<class T> T &once()
{
    static T *instance = new T();
    return *instance;
}

} // namespace fuzzharness
