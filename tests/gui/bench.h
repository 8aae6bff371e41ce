// A simulated bench installed as the device layer's bus for one test's lifetime.
#pragma once

#include "d2xx/simbench.h"

struct InstalledBench {
    std::shared_ptr<kestrova::d2xx::SimBench> bench =
        std::make_shared<kestrova::d2xx::SimBench>();
    InstalledBench() { kestrova::d2xx::installBus(bench); }
    ~InstalledBench() { kestrova::d2xx::installBus(nullptr); }
    kestrova::d2xx::SimBench *operator->() const { return bench.get(); }
};
