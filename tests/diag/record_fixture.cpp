// qx_record_fixture SCENARIO OUT: records a session of the link with a unit into OUT, in the
// traffic recording format. Scenarios: "status-settings" (status polling with one settings
// write in the middle) and "short-update" (a unit in its boot loader takes one flash block and
// one EEPROM block, then gives its verdict). The unit is the virtual one, in this process.
#include "diag/TrafficRecorder.h"
#include "link/LinkWorker.h"
#include "unit/UnitPort.h"
#include "update/UpdateRun.h"

#include <cstdio>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

template <typename F>
bool within(std::chrono::milliseconds limit, F done) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct Verdict : qx::AnswerSink {
    std::atomic<int> finished{0};
    void finishAnswer(bool) override { ++finished; }
    void resetAnswer() override {}
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qx_record_fixture status-settings|short-update OUT\n");
        return 2;
    }
    const std::string scenario = argv[1];
    qx::LinkState link;
    qx::unit::VirtualUnit unit;
    unit.setLevelPattern(qx::unit::LevelPattern::SteadyTone);
    qx::unit::UnitPort port(unit);
    Verdict verdict;
    qx::Receiver receiver(link, &verdict);
    port.setInputHandler([&](const THIDreport& r, uint8_t n) { receiver.onInputReport(r, n); });
    const bool boot = scenario == "short-update";
    if (boot) {
        unit.restart(true);
    }
    port.scanForDevices();
    if (!port.openDevice(0)) {
        return 1;
    }
    link.connected = true;
    link.bootMode = boot;

    qx::TrafficRecorder recorder;
    const qx::unit::Identity id = unit.identity();
    const std::string error = recorder.start(
        argv[2], {"0.1.0", unit.product() + ", serial " + id.serial + ", version 1.2"});
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    link.tap = &recorder;
    int status = 0;
    {
        qx::Tthr worker(link, port, [] {});
        if (scenario == "status-settings") {
            auto poll = [&](int n) {
                for (int i = 0; i < n; ++i) {
                    const auto before = link.counters.snapshot().answersReceived;
                    within(2s, [&] { return link.postStatusRequest(); });
                    within(2s, [&] { return link.counters.snapshot().answersReceived > before; });
                }
            };
            poll(5);
            link.save([](qx::DeviceSettings& s) { s.muteOn = 1; });
            status = within(2s, [&] { return link.writeAcked(); }) ? 0 : 1;
            poll(5);
        } else if (boot) {
            qx::UpdateImages images;
            images.flash.assign(600, 0x5A); // one whole block and a part of the next
            images.eeprom.assign(16, 0xA5);
            qx::UpdateRun run(link);
            status = run.run(images) == qx::RunOutcome::Completed &&
                             within(2s, [&] { return verdict.finished > 0; })
                         ? 0
                         : 1;
        } else {
            status = 2;
        }
        worker.requestStop();
    }
    link.tap = nullptr;
    recorder.stop();
    port.setInputHandler({});
    return status;
}
