// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/EventsCommand.h"

#include "eventlog/EventReader.h"
#include "eventlog/EventText.h"

namespace qx::cli {

int runEvents(const CliRequest& r, const std::filesystem::path& folder, CliOutput& out,
              eventlog::TimePoint now) {
    if (folder.empty()) {
        out.fail("no state folder can be found (neither XDG_STATE_HOME nor HOME is set): there "
                 "is no event log to read");
        return kExitUsage;
    }
    eventlog::EventFilter filter;
    filter.unit = r.unit;
    filter.kinds = r.kinds;
    for (const auto& [text, into] :
         {std::pair{&r.since, &filter.since}, std::pair{&r.until, &filter.until}}) {
        if (text->empty()) {
            continue;
        }
        *into = eventlog::parseUserTime(*text, now);
        if (!*into) {
            out.fail("cannot read the time \"" + *text + "\"");
            return kExitUsage;
        }
    }
    // Written a block at a time: a year's log is millions of lines.
    std::string block;
    const auto emit = [&out, &block](bool last) {
        if (!block.empty() && (last || block.size() >= 64 * 1024)) {
            out.write(false, block);
            block.clear();
        }
    };
    const eventlog::ReadSummary summary = eventlog::EventReader(folder).read(
        filter, [&](const watch::Event& event, std::string_view line) {
            if (r.json) {
                block.append(line);
            } else {
                block += eventlog::eventText(event);
            }
            block += '\n';
            emit(false);
            return true;
        });
    emit(true);
    for (const std::string& problem : summary.problems) {
        out.write(true, "qx77zt: warning: " + problem + "\n");
    }
    if (summary.damaged > 0) {
        out.write(true, "qx77zt: warning: " + std::to_string(summary.damaged) + " damaged line" +
                            (summary.damaged == 1 ? " was" : "s were") + " skipped\n");
    }
    return kExitDone;
}

} // namespace qx::cli
