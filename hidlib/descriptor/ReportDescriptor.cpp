// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReportDescriptor.h"

#include "ItemReader.h"
#include "ReportLengths.h"

#include <algorithm>
#include <limits>

namespace hid {

namespace {

using detail::Item;
using detail::ItemReader;
using detail::ItemType;
using detail::ReadStatus;
using detail::ReportLengths;
using detail::ReportType;

// Item tags, HID 1.11 sections 6.2.2.4 (main), 6.2.2.7 (global) and 6.2.2.8 (local).
enum MainTag : uint8_t {
    kInput = 0x8,
    kOutput = 0x9,
    kCollection = 0xA,
    kFeature = 0xB,
    kEndCollection = 0xC,
};
enum GlobalTag : uint8_t {
    kUsagePage = 0x0,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};
enum LocalTag : uint8_t {
    kUsage = 0x0,
    kUsageMinimum = 0x1,
    kUsageMaximum = 0x2,
};

// Main item data bits, 6.2.2.5.
constexpr uint32_t kConstantBit = 1u << 0;
constexpr uint32_t kVariableBit = 1u << 1;

// Push stores a copy of the global state; the stack is bounded so that a descriptor of nothing but
// Push items cannot make us allocate without limit. Pushes beyond the bound are only counted, and
// the Pops that match them leave the state as it is.
constexpr size_t kMaxPushDepth = 64;

// The global items that matter for lengths and capabilities (6.2.2.7). Push and Pop save and
// restore all of it, the Report ID included.
struct GlobalState {
    uint16_t usagePage = 0;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

// One declared usage or usage range (6.2.2.8). The page is the one in effect when the usage was
// read, unless a four-byte usage brought its own in the high 16 bits.
struct UsageEntry {
    uint16_t page = 0;
    uint16_t min = 0;
    uint16_t max = 0;
    bool isRange = false;
    bool hasMin = false; // a range still waiting for its other end
    bool hasMax = false;
};

uint16_t saturate16(uint32_t value) {
    return static_cast<uint16_t>(std::min<uint32_t>(value, std::numeric_limits<uint16_t>::max()));
}

class Parser {
public:
    void handle(const Item& item);
    DescriptorCaps finish();

private:
    void handleMain(const Item& item);
    void handleGlobal(const Item& item);
    void handleLocal(const Item& item);
    void addReportItem(ReportType type, uint32_t flags);
    void addValueCaps(std::vector<ValueCap>& caps, uint32_t flags) const;
    void setRangeEnd(const Item& item, bool isMinimum);

    GlobalState global_;
    std::vector<GlobalState> pushed_;
    size_t unsavedPushes_ = 0;
    std::vector<UsageEntry> usages_; // local state, cleared after every main item
    size_t collectionDepth_ = 0;
    bool numbered_ = false;
    ReportLengths lengths_;
    DescriptorCaps caps_;
};

void Parser::handle(const Item& item) {
    if (item.isLong) {
        return; // 6.2.2.3: no long item tags are defined
    }
    switch (item.type) {
    case ItemType::Main:
        handleMain(item);
        break;
    case ItemType::Global:
        handleGlobal(item);
        break;
    case ItemType::Local:
        handleLocal(item);
        break;
    case ItemType::Reserved:
        break;
    }
}

void Parser::handleMain(const Item& item) {
    switch (item.tag) {
    case kInput:
        addReportItem(ReportType::Input, item.data);
        break;
    case kOutput:
        addReportItem(ReportType::Output, item.data);
        break;
    case kFeature:
        addReportItem(ReportType::Feature, item.data);
        break;
    case kCollection:
        if (collectionDepth_ == 0) {
            lengths_.startCollection();
        }
        ++collectionDepth_;
        break;
    case kEndCollection:
        // An unmatched End Collection is ignored rather than rejected, as the OS does.
        if (collectionDepth_ > 0) {
            --collectionDepth_;
        }
        break;
    default:
        break;
    }
    usages_.clear(); // 6.2.2.8: local items apply only to the next main item
}

void Parser::handleGlobal(const Item& item) {
    switch (item.tag) {
    case kUsagePage:
        global_.usagePage = static_cast<uint16_t>(item.data & 0xFFFF);
        break;
    case kReportSize:
        global_.reportSize = item.data;
        break;
    case kReportId:
        global_.reportId = static_cast<uint8_t>(item.data & 0xFF);
        numbered_ = true;
        break;
    case kReportCount:
        global_.reportCount = item.data;
        break;
    case kPush:
        if (pushed_.size() < kMaxPushDepth) {
            pushed_.push_back(global_);
        } else {
            ++unsavedPushes_;
        }
        break;
    case kPop:
        if (unsavedPushes_ > 0) {
            --unsavedPushes_;
        } else if (!pushed_.empty()) {
            global_ = pushed_.back();
            pushed_.pop_back();
        }
        // A Pop without a Push is ignored.
        break;
    default:
        break; // extents, units and exponents do not change lengths or capabilities
    }
}

void Parser::handleLocal(const Item& item) {
    switch (item.tag) {
    case kUsage: {
        UsageEntry entry;
        entry.page =
            item.dataSize == 4 ? static_cast<uint16_t>(item.data >> 16) : global_.usagePage;
        entry.min = entry.max = static_cast<uint16_t>(item.data & 0xFFFF);
        usages_.push_back(entry);
        break;
    }
    case kUsageMinimum:
        setRangeEnd(item, true);
        break;
    case kUsageMaximum:
        setRangeEnd(item, false);
        break;
    default:
        // Designators, strings and delimiters do not change lengths or capabilities; usages
        // between delimiters are taken like any other usage.
        break;
    }
}

// Usage Minimum and Usage Maximum form one range wherever they appear in the item's usage list.
// A range with only one end declared is taken as a range of that single usage.
void Parser::setRangeEnd(const Item& item, bool isMinimum) {
    const auto usage = static_cast<uint16_t>(item.data & 0xFFFF);
    UsageEntry* open = nullptr;
    if (!usages_.empty()) {
        UsageEntry& last = usages_.back();
        if (last.isRange && (isMinimum ? !last.hasMin : !last.hasMax)) {
            open = &last;
        }
    }
    if (open == nullptr) {
        UsageEntry entry;
        entry.page =
            item.dataSize == 4 ? static_cast<uint16_t>(item.data >> 16) : global_.usagePage;
        entry.isRange = true;
        entry.min = entry.max = usage;
        usages_.push_back(entry);
        open = &usages_.back();
    }
    if (isMinimum) {
        open->min = usage;
        open->hasMin = true;
        if (!open->hasMax) {
            open->max = usage;
        }
    } else {
        open->max = usage;
        open->hasMax = true;
        if (!open->hasMin) {
            open->min = usage;
        }
    }
}

void Parser::addReportItem(ReportType type, uint32_t flags) {
    const uint64_t bits = uint64_t{global_.reportSize} * global_.reportCount;
    lengths_.addItem(type, global_.reportId, bits);
    switch (type) {
    case ReportType::Input:
        addValueCaps(caps_.input.valueCaps, flags);
        break;
    case ReportType::Output:
        addValueCaps(caps_.output.valueCaps, flags);
        break;
    case ReportType::Feature:
        addValueCaps(caps_.feature.valueCaps, flags);
        break;
    }
}

// Value capabilities of one Input, Output or Feature item:
// - only Variable items with a Report Size other than 1 have value capabilities (Array items and
//   1-bit fields are buttons);
// - padding has none: no usage at all, or a Constant item whose usages are all 0 (a data item
//   with usage 0 is a value, and so is a Constant one with a real usage);
// - one capability per declared usage, the first Report Count usages only, listed last-declared
//   first; each covers one field except the last kept single usage, which covers the rest;
// - a usage range is one capability covering one field.
// Each item adds at most one capability per usage item read since the previous main item, so the
// list never grows faster than the descriptor, whatever Report Count claims.
void Parser::addValueCaps(std::vector<ValueCap>& caps, uint32_t flags) const {
    if ((flags & kVariableBit) == 0 || global_.reportSize == 1 || global_.reportCount == 0 ||
        usages_.empty()) {
        return;
    }
    if ((flags & kConstantBit) != 0 &&
        std::all_of(usages_.begin(), usages_.end(),
                    [](const UsageEntry& u) { return u.min == 0 && u.max == 0; })) {
        return;
    }
    const size_t kept = std::min<size_t>(usages_.size(), global_.reportCount);
    for (size_t i = kept; i-- > 0;) {
        const UsageEntry& entry = usages_[i];
        ValueCap cap;
        cap.usagePage = entry.page;
        cap.usage = entry.min;
        cap.usageMax = entry.max;
        cap.isRange = entry.isRange;
        cap.reportId = global_.reportId;
        cap.bitSize = saturate16(global_.reportSize);
        const bool takesRest = i == kept - 1 && !entry.isRange;
        cap.reportCount =
            takesRest ? saturate16(global_.reportCount - static_cast<uint32_t>(kept - 1)) : 1;
        caps.push_back(cap);
    }
}

DescriptorCaps Parser::finish() {
    caps_.input.byteLength = lengths_.byteLength(ReportType::Input);
    caps_.output.byteLength = lengths_.byteLength(ReportType::Output);
    caps_.feature.byteLength = lengths_.byteLength(ReportType::Feature);
    caps_.numberedReports = numbered_;
    return std::move(caps_);
}

} // namespace

std::optional<DescriptorCaps> parseReportDescriptor(std::span<const uint8_t> bytes) {
    ItemReader reader(bytes);
    Parser parser;
    Item item;
    for (;;) {
        switch (reader.next(item)) {
        case ReadStatus::Item:
            parser.handle(item);
            break;
        case ReadStatus::End:
            return parser.finish();
        case ReadStatus::Truncated:
            return std::nullopt;
        }
    }
}

} // namespace hid
