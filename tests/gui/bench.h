// A simulated bench installed as the device layer's bus for one test's lifetime.
#pragma once

#include "d2xx/simbench.h"

// How many calls of this kind the bench has recorded.
inline int callsOf(const kestrova::d2xx::SimBench &bench, kestrova::d2xx::Call kind)
{
    int count = 0;
    for (const auto &call : bench.calls())
        count += call.call == kind;
    return count;
}

struct InstalledBench {
    std::shared_ptr<kestrova::d2xx::SimBench> bench =
        std::make_shared<kestrova::d2xx::SimBench>();
    InstalledBench() { kestrova::d2xx::installBus(bench); }
    ~InstalledBench() { kestrova::d2xx::installBus(nullptr); }
    kestrova::d2xx::SimBench *operator->() const { return bench.get(); }
};
