#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <memory>

// Reads pictures for one requester (a panel's default picture) on a thread that nobody waits
// for, and hands each to done on the application's thread. Sources are paths or file URLs;
// only regular files are read, without blocking and up to the picture loader's bounds; nothing is
// fetched over the network. A read that fails never completes (the loader's log says why), and
// none completes once the reader or the application object is gone.
//
// Work is bounded whatever the requester asks: one read in flight and one request waiting, a
// newer request replacing the waiting one, and only the newest request's picture is handed on.
// So one reader holds at most one file (platform::picture::maxFileBytes) and one decoded picture
// (platform::picture::allocationLimitMb) at a time: about 100 MB at worst, however many requests
// come in at once.
class AsyncPictureReader final
{
public:
    explicit AsyncPictureReader(std::function<void(const QImage &)> done);
    ~AsyncPictureReader();
    AsyncPictureReader(const AsyncPictureReader &) = delete;
    AsyncPictureReader &operator=(const AsyncPictureReader &) = delete;

    void read(const QString &source);

    // Whether a read is in flight or waiting; for tests.
    bool busy() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
