// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/SeveralStatus.h"

#include "cli/Json.h"
#include "state/UnitLabels.h"

namespace qx::cli {

namespace {

// What one unit's command printed, kept to be put into the array.
class KeptOutput : public CliOutput {
public:
    void write(bool error, std::string_view text) override { (error ? err : out) += text; }
    std::string out;
    std::string err;
};

} // namespace

int statusOfSeveral(const CliRequest& r, const std::vector<StatusTarget>& units, CliOutput& out) {
    int status = kExitDone;
    std::string array;
    for (const StatusTarget& u : units) {
        const std::string head = "{\"path\":" + jsonString(u.path) +
                                 ",\"serial\":" + jsonString(u.serial) +
                                 ",\"label\":" + jsonString(u.label) +
                                 ",\"mode\":" + jsonString(u.boot ? "boot" : "normal");
        std::string element;
        if (!r.json) {
            if (&u != &units.front()) {
                out.line("");
            }
            out.line("unit " + state::unitName({u.serial, u.place, u.label}));
        }
        if (u.boot) {
            // A unit in its boot loader has no levels or settings to show: a state, not a fault.
            if (r.json) {
                element = head + "}";
            } else {
                out.line("boot mode: no levels or settings until it runs normally");
            }
        } else if (r.json) {
            KeptOutput kept;
            const int s = u.run(kept);
            if (s == kExitDone && kept.out.size() > 2 && kept.out.front() == '{') {
                element = head + "," + kept.out.substr(1, kept.out.size() - 2);
            } else {
                std::string why = kept.err;
                if (why.starts_with("qx77zt: ")) {
                    why.erase(0, 8);
                }
                while (!why.empty() && why.back() == '\n') {
                    why.pop_back();
                }
                element = head + ",\"error\":" + jsonString(why) + "}";
            }
            out.write(true, kept.err);
            if (s != kExitDone && status == kExitDone) {
                status = s;
            }
        } else if (const int s = u.run(out); s != kExitDone && status == kExitDone) {
            status = s;
        }
        if (r.json) {
            array += (array.empty() ? "" : ",") + element;
        }
    }
    if (r.json) {
        out.line("[" + array + "]");
    }
    return status;
}

} // namespace qx::cli
