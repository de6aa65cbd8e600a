#include "batch/batch_file.h"

#include "base/convert.h"
#include "database/format.h"

#include <algorithm>
#include <string>

namespace iit::batch {
namespace {

// A field's text in the grid. Amounts are written as the shortest decimal that reads back as
// the stored double, so that what was saved comes back digit for digit.
Text fieldText(const Value& v) {
    return v.kind() == Kind::Double ? toTextShortest(v.realSlot()) : ToText(v);
}

// A record of empty texts and zero amounts: what a save writes for an empty row.
bool holdsNothing(const BatchRecord& record) {
    for (int c = kNameColumn; c <= kRemarkColumn; ++c) {
        const Text& t = record[static_cast<std::size_t>(c - 1)];
        const bool amount = layoutOf(c).field == FieldKind::Amount;
        if (!t.empty() && !(amount && t == Text::fromBytes("0"))) return false;
    }
    return true;
}

} // namespace

Text BatchFileContent::damageText() const {
    if (!damaged()) return {};
    // The records of the format are not what the clerk counts: a save writes every row of the
    // sheet, empty ones too. Tell the people read.
    const auto people = std::count_if(records.begin(), records.end(), [](const BatchRecord& r) {
        return std::any_of(r.begin(), r.end(), [](const Text& t) { return !t.empty(); });
    });
    return sysText("文件已损坏：读出 " + std::to_string(people) + " 人，文件的其余部分缺失");
}

Outcome<BatchFileContent> readBatchFileBytes(std::string_view bytes) {
    static const Text notATable = sysText("不是批量文件");
    static const Text protectedTable = sysText("这是有密码的数据库文件，不是批量文件");
    static const Text otherFields = sysText("不是批量文件（字段不符）");
    if (bytes.size() < static_cast<std::size_t>(db::kDescriptorStart)) return fail(notATable);
    const std::optional<db::Header> header = db::decodeHeader(bytes.data());
    if (!header || db::validateHeader(*header) != db::kOk) return fail(notATable);
    if (header->enciphered) return fail(protectedTable);
    const std::int32_t fieldCount = db::loadInt32(bytes.data() + db::kFieldCountOffset);
    const std::int64_t dataStart =
        db::kDescriptorStart + std::int64_t{fieldCount} * db::kDescriptorSize;
    if (fieldCount < 5 || dataStart > static_cast<std::int64_t>(bytes.size()))
        return fail(otherFields);
    std::vector<db::Field> fields(static_cast<std::size_t>(fieldCount));
    for (std::int32_t i = 0; i < fieldCount; ++i)
        if (db::decodeDescriptor(bytes.data() + db::kDescriptorStart + i * db::kDescriptorSize,
                                 fields[static_cast<std::size_t>(i)]) != db::kOk)
            return fail(notATable);
    if (db::validateLayout(fields, header->recordSize) != db::kOk) return fail(notATable);
    // The first five fields name the batch file; the card and the remark may differ.
    for (int c = kNameColumn; c <= kAfterTaxColumn; ++c)
        if (!db::sameName(fields[static_cast<std::size_t>(c - 1)].name.view(),
                          sysText(layoutOf(c).fieldName).view()))
            return fail(otherFields);

    BatchFileContent out;
    out.claimed = header->recordCount;
    const std::int64_t room = static_cast<std::int64_t>(bytes.size()) - dataStart;
    out.present = std::min<std::int64_t>(out.claimed, room / header->recordSize);
    const std::int64_t read = std::min<std::int64_t>(out.present, kDataRows);
    out.beyondSheet = out.present - read;
    out.records.reserve(static_cast<std::size_t>(read));
    for (std::int64_t r = 0; r < read; ++r) {
        const char* record = bytes.data() + dataStart + r * header->recordSize;
        BatchRecord row;
        for (std::size_t j = 0; j < row.size() && j < fields.size(); ++j) {
            const db::Field& f = fields[j];
            if (f.type == db::kMemo || f.type == db::kByteSet) continue; // references elsewhere
            row[j] = fieldText(db::decodeValue(f, record + f.offset));
        }
        if (holdsNothing(row)) row = BatchRecord{};
        out.records.push_back(std::move(row));
    }
    return out;
}

} // namespace iit::batch
