#pragma once

#include "panel/WebCamEvents.h"

#include <type_traits>

// Re-raises from's events as to's with the same arguments, all but own, which the receiver raises
// itself after doing its part. Direct signal-to-signal connections hand the very same array
// references on, so a change made by the last handler reaches the first raiser.
template<class Own> void relayEvents(WebCamEvents *from, WebCamEvents *to, Own own)
{
    WebCamEvents::forEachEvent([&](const char *, auto signal) {
        if constexpr (std::is_same_v<decltype(signal), Own>) {
            if (signal == own)
                return;
        }
        QObject::connect(from, signal, to, signal, Qt::DirectConnection);
    });
}
