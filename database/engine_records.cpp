// Records and fields of an open table: counting, moving, reading and writing.
#include "database/engine_internal.h"

#include "base/convert.h"
#include "base/fatal.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace iit::db {
namespace {

using detail::ByteLock;
using detail::OpenTable;

// Largest buffer taken for a record before the file has shown it holds that many bytes.
constexpr std::int64_t kChunk = 64 * 1024;

// How a field argument was resolved.
enum class FieldArg { Found, Missing, BadKind };

FieldArg resolveField(const OpenTable& t, const Value& arg, const Field*& out) {
    out = nullptr;
    if (arg.isText()) {
        for (const Field& f : t.fields) {
            if (sameName(f.name.view(), arg.rawBytes())) {
                out = &f;
                return FieldArg::Found;
            }
        }
        return FieldArg::Missing;
    }
    if (!arg.isNumeric()) return FieldArg::BadKind;
    const std::int64_t position = ToInteger(arg);
    if (position < 1 || position > static_cast<std::int64_t>(t.fields.size()))
        return FieldArg::Missing;
    out = &t.fields[static_cast<std::size_t>(position - 1)];
    return FieldArg::Found;
}

const Text& badFieldKindMessage() {
    static const Text message =
        sysText("只能使用字段名称(文本型)或位置索引值(数值型)来指定某个字段");
    return message;
}

// The whole records the file holds now (0 when it is shorter than its descriptors).
std::int64_t recordsPresent(const OpenTable& t, std::int64_t length) {
    return length > t.dataStart ? (length - t.dataStart) / t.recordSize : 0;
}

// Reads the record count at header offset 16 under its lock; a negative count reads as 0, and
// a count beyond the records the file holds counts the records present.
int readRecordCount(OpenTable& t, int waitMs, std::int32_t& count) {
    count = 0;
    if (t.keepsHeader()) {
        count = std::max<std::int32_t>(t.header.recordCount, 0);
        return kOk;
    }
    ByteLock lock(t, kRecordCountOffset, LockKind::Read, waitMs);
    if (lock.status() != kOk) return lock.status();
    char bytes[4];
    if (t.file.read(kRecordCountOffset, bytes, 4) != 4) return kErrRecordCount;
    count = std::max<std::int32_t>(loadInt32(bytes), 0);
    const std::int64_t length = t.file.size();
    if (length < 0) return static_cast<int>(length);
    count = static_cast<std::int32_t>(std::min<std::int64_t>(count, recordsPresent(t, length)));
    return kOk;
}

// Reads the stored bytes of a field of the current record into t.scratch.
int readStored(OpenTable& t, const Field& f) {
    const std::int64_t position = t.recordOffset(t.current) + f.offset;
    if (f.size > kChunk) {
        // A wide field of a damaged file must be in the file before its buffer is allocated.
        const std::int64_t length = t.file.size();
        if (length < 0) return static_cast<int>(length);
        if (position >= length) return kErrSeek;
        if (position + f.size > length) return kErrReadField;
    }
    t.scratch.resize(static_cast<std::size_t>(f.size));
    const std::int64_t got = t.file.read(position, t.scratch.data(), t.scratch.size());
    if (got < 0) return static_cast<int>(got);
    if (got == 0) return kErrSeek;
    if (got < f.size) return kErrReadField;
    return kOk;
}

bool isAuxField(const Field& f) {
    return f.type == kMemo || f.type == kByteSet;
}

// Reads the current record whole into t.record under its lock. kOk also when the record is
// not whole in the file: then nothing is kept and the caller reads the field alone, which
// gives the exact error.
int loadRecord(OpenTable& t) {
    if (int rc = t.dropRecord(); rc != kOk) return rc;
    if (t.recordSize > kChunk) return kOk;
    ByteLock lock(t, t.recordOffset(t.current), LockKind::Read, kReadLockWaitMs);
    if (lock.status() != kOk) return lock.status();
    t.record.resize(static_cast<std::size_t>(t.recordSize));
    const std::int64_t got =
        t.file.read(t.recordOffset(t.current), t.record.data(), t.record.size());
    if (got < 0) return static_cast<int>(got);
    if (got == t.recordSize) t.recordIndex = t.current;
    return kOk;
}

// Reads a field of the current record into `out`: kOk or an error code.
int readValue(OpenTable& t, const Field& f, Value& out) {
    if (t.current < 0) return kErrNoRecord;
    if (!isAuxField(f)) {
        if (t.recordIndex != t.current) {
            if (int rc = loadRecord(t); rc != kOk) return rc;
        }
        if (t.recordIndex == t.current) {
            out = decodeValue(f, t.record.data() + f.offset);
            return kOk;
        }
    }
    // The lock also covers the chain of a memo or byte-set, which a writer may replace. A read
    // waits for a writer rather than give a value that is not in the file.
    ByteLock lock(t, t.recordOffset(t.current), LockKind::Read, kReadLockWaitMs);
    if (lock.status() != kOk) return lock.status();
    if (int rc = readStored(t, f); rc != kOk) return rc;
    if (!isAuxField(f)) {
        out = decodeValue(f, t.scratch.data());
        return kOk;
    }
    if (!t.aux) return kErrReadField;
    std::string data;
    if (int rc = t.aux->read(loadInt32(t.scratch.data()), data); rc != kOk) return rc;
    if (f.type == kMemo)
        out = Value::text(Text::fromBytes(std::move(data)));
    else
        out = Value::bytes(ByteSet(data.begin(), data.end()));
    return kOk;
}

int writeValue(OpenTable& t, const Field& f, const std::optional<Value>& value) {
    if (t.current < 0) return kErrNoRecord;
    if (t.readOnly) return kErrAccess;
    if (!isAuxField(f) && t.keepsHeader()) {
        // Nobody else can look at the file: the record is changed in memory and written once.
        if (t.recordIndex != t.current) {
            if (int rc = t.dropRecord(); rc != kOk) return rc;
            if (t.recordSize <= kChunk) {
                t.record.resize(static_cast<std::size_t>(t.recordSize));
                const std::int64_t got =
                    t.file.read(t.recordOffset(t.current), t.record.data(), t.record.size());
                if (got < 0) return static_cast<int>(got);
                if (got == t.recordSize) t.recordIndex = t.current;
            }
        }
        if (t.recordIndex == t.current) {
            t.scratch.resize(static_cast<std::size_t>(f.size));
            if (int rc = encodeValue(f, value, t.scratch.data()); rc != kOk) return rc;
            std::memcpy(t.record.data() + f.offset, t.scratch.data(), t.scratch.size());
            t.recordDirty = true;
            return kOk;
        }
    }
    // Whatever this table still holds in memory goes to the file first.
    if (int rc = t.flushRecord(); rc != kOk) return rc;
    const std::int64_t record = t.recordOffset(t.current);
    const std::int64_t position = record + f.offset;
    const std::int64_t length = t.file.size();
    if (length < 0) return static_cast<int>(length);
    if (position >= length) return kErrNoRecord;

    if (f.type != kMemo && f.type != kByteSet) {
        t.scratch.resize(static_cast<std::size_t>(f.size));
        if (int rc = encodeValue(f, value, t.scratch.data()); rc != kOk) return rc;
        ByteLock lock(t, record, LockKind::Write);
        if (lock.status() != kOk) return lock.status();
        const int rc = t.file.write(position, t.scratch.data(), t.scratch.size());
        // The record read before stays what the file holds.
        if (rc == kOk && t.recordIndex == t.current)
            std::memcpy(t.record.data() + f.offset, t.scratch.data(), t.scratch.size());
        return rc;
    }

    const Value v = value ? *value : emptyValue(f.type);
    if (!accepts(f.type, v)) return kErrTypeMismatch;
    if (!t.aux) return kErrAuxAccess;
    t.recordIndex = -1; // the record's reference to the data changes
    ByteLock lock(t, record, LockKind::Write);
    if (lock.status() != kOk) return lock.status();
    char old[4];
    if (t.file.read(position, old, 4) != 4) return kErrWriteField;
    // The new chain is complete before the record points to it; the old one is freed last.
    std::int32_t first = 0;
    if (int rc = t.aux->store(v.rawBytes(), first, t.lockFree); rc != kOk) return rc;
    char stored[4];
    storeInt32(stored, first);
    if (int rc = t.file.write(position, stored, 4); rc != kOk) return rc;
    // The new value is in place; a damaged old chain that cannot be freed only leaks blocks.
    t.aux->release(loadInt32(old), t.lockFree);
    return kOk;
}

int appendBlank(OpenTable& t) {
    if (t.readOnly) return kErrAccess;
    if (int rc = t.dropRecord(); rc != kOk) return rc;
    ByteLock headerLock(t, kRecordCountOffset, LockKind::Write);
    if (headerLock.status() != kOk) return headerLock.status();
    char counters[8];
    if (t.keepsHeader()) {
        storeInt32(counters, t.header.recordCount);
        storeInt32(counters + 4, t.header.nextId);
    } else if (t.file.read(kRecordCountOffset, counters, 8) != 8) {
        return kErrRecordCount;
    }
    const std::int64_t length = t.file.size();
    if (length < 0) return static_cast<int>(length);
    // The first write after an open repairs a damaged file: a count beyond the whole records
    // present is lowered, and a partial or surplus record after the counted ones is cut.
    const std::int32_t count = static_cast<std::int32_t>(std::min<std::int64_t>(
        std::max<std::int32_t>(loadInt32(counters), 0), recordsPresent(t, length)));
    const std::int32_t stamp = std::max<std::int32_t>(loadInt32(counters + 4), 1);
    if (count == std::numeric_limits<std::int32_t>::max() ||
        stamp == std::numeric_limits<std::int32_t>::max())
        return kErrWriteRecord;
    const std::int64_t position = t.recordOffset(count);
    if (length < t.dataStart) return kErrSeek;
    if (length != position) {
        if (int rc = t.file.truncate(position); rc != kOk) return rc;
    }
    // A record starts with its stamp; a damaged file's record may be shorter than the stamp,
    // and only what fits is kept.
    auto stamped = [stamp](std::string& record) {
        char bytes[4];
        storeInt32(bytes, stamp);
        std::memcpy(record.data(), bytes, std::min<std::size_t>(4, record.size()));
    };
    // One record more, and the next stamp; the new record is the current one.
    auto counted = [&]() -> int {
        storeInt32(counters, count + 1);
        storeInt32(counters + 4, stamp + 1);
        if (int rc = t.file.write(kRecordCountOffset, counters, 8); rc != kOk) return rc;
        t.header.recordCount = count + 1;
        t.header.nextId = stamp + 1;
        t.current = count;
        return kOk;
    };
    if (t.keepsHeader() && t.recordSize <= kChunk) {
        // The new record stays in memory until the cursor moves on; only the counters are
        // written now.
        t.record.assign(static_cast<std::size_t>(t.recordSize), '\0');
        stamped(t.record);
        if (int rc = counted(); rc != kOk) return rc;
        t.recordIndex = count;
        t.recordDirty = true;
        return kOk;
    }
    ByteLock recordLock(t, position, LockKind::Write);
    if (recordLock.status() != kOk) return recordLock.status();
    // Written in bounded pieces: a record may be as large as a file says it is.
    for (std::int64_t done = 0; done < t.recordSize; done += kChunk) {
        t.scratch.assign(
            static_cast<std::size_t>(std::min<std::int64_t>(kChunk, t.recordSize - done)), '\0');
        if (done == 0) stamped(t.scratch);
        if (int rc = t.file.write(position + done, t.scratch.data(), t.scratch.size()); rc != kOk)
            return rc;
    }
    return counted();
}

int removeAll(OpenTable& t) {
    if (t.readOnly) return kErrAccess;
    t.recordDirty = false; // every record goes
    t.recordIndex = -1;
    if (!t.lockFree) {
        if (int rc = lockBytes(t.file.fd(), LockKind::Write, 0, kWholeFile, 0); rc != kOk)
            return rc;
        t.wholeFileLocked = true;
    }
    char zero[4];
    storeInt32(zero, 0);
    int rc = t.file.write(kRecordCountOffset, zero, 4);
    if (rc == kOk) rc = t.file.truncate(t.dataStart);
    if (rc == kOk && t.aux) rc = t.aux->reset();
    if (rc == kOk) {
        t.header.recordCount = 0;
        t.current = 0;
    }
    if (t.wholeFileLocked) {
        unlockBytes(t.file.fd(), 0, kWholeFile);
        t.wholeFileLocked = false;
        t.locks.restore(t.file.fd());
    }
    return rc;
}

// The outcome of an operation's code.
Outcome<void> outcomeOf(int rc) {
    if (rc != kOk) return engineProblem(rc);
    return {};
}

const Text& noTableMessage() {
    static const Text message = sysText("未指定当前数据库或者指定数据库未打开");
    return message;
}

} // namespace

Outcome<std::int32_t> Table::RecordCount() {
    if (!m_open) return engineProblem(kErrNoCurrent);
    std::int32_t count = 0;
    if (int rc = readRecordCount(*m_open, kCountLockWaitMs, count); rc != kOk)
        return engineProblem(rc);
    return count;
}

Outcome<bool> Table::fileIsWhole() {
    if (!m_open) return engineProblem(kErrNoCurrent);
    OpenTable& t = *m_open;
    // A record an exclusive table holds in memory goes to the file first; the count is the one
    // on disk, since an open corrects its own copy to the records present.
    if (int rc = t.flushRecord(); rc != kOk) return engineProblem(rc);
    ByteLock header(t, kRecordCountOffset, LockKind::Read, kCountLockWaitMs);
    if (header.status() != kOk) return engineProblem(header.status());
    char bytes[4];
    if (t.file.read(kRecordCountOffset, bytes, 4) != 4) return engineProblem(kErrRecordCount);
    const std::int32_t counted = loadInt32(bytes);
    const std::int64_t length = t.file.size();
    if (length < 0) return engineProblem(static_cast<int>(length));
    return counted >= 0 && length == t.recordOffset(counted);
}

Outcome<void> Table::GoFirst() {
    if (!m_open) return engineProblem(kErrNoCurrent);
    const int rc = m_open->dropRecord();
    m_open->current = 0;
    return outcomeOf(rc);
}

Outcome<void> Table::Skip(std::int32_t n) {
    if (!m_open) return engineProblem(kErrNoCurrent);
    if (n == 0) return {};
    OpenTable& t = *m_open;
    if (int rc = t.dropRecord(); rc != kOk) return engineProblem(rc);
    std::int32_t count = 0;
    if (int rc = readRecordCount(t, 0, count); rc != kOk) return engineProblem(rc);
    if (n > 0 && (count == 0 || t.current >= count)) return engineProblem(kErrAfterLast);
    if (n < 0 && (count == 0 || t.current < 0)) return engineProblem(kErrBeforeFirst);
    const std::int64_t target =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(t.current) + n, -1, count);
    t.current = static_cast<std::int32_t>(target);
    return {};
}

Outcome<Value> Table::ReadField(const Value& field) {
    static const Text kNoField = sysText("指定字段不存在");
    if (!m_open) fatalError(0, noTableMessage());
    const Field* f = nullptr;
    switch (resolveField(*m_open, field, f)) {
    case FieldArg::Found:
        break;
    case FieldArg::Missing:
        fatalError(0, kNoField);
    case FieldArg::BadKind:
        fatalError(0, badFieldKindMessage());
    }
    Value out;
    if (int rc = readValue(*m_open, *f, out); rc != kOk) return engineProblem(rc);
    return out;
}

Outcome<void> Table::WriteField(const Value& field, const std::optional<Value>& value) {
    if (!m_open) return engineProblem(kErrNoCurrent);
    const Field* f = nullptr;
    switch (resolveField(*m_open, field, f)) {
    case FieldArg::Found:
        return outcomeOf(writeValue(*m_open, *f, value));
    case FieldArg::Missing:
        return engineProblem(kErrNoField);
    case FieldArg::BadKind:
        break;
    }
    fatalError(0, badFieldKindMessage());
}

Outcome<void> Table::AppendBlankRecord() {
    if (!m_open) return engineProblem(kErrNoCurrent);
    return outcomeOf(appendBlank(*m_open));
}

Outcome<void> Table::RemoveAllRecords() {
    if (!m_open) return engineProblem(kErrNoCurrent);
    return outcomeOf(removeAll(*m_open));
}

Outcome<Text> Table::FieldName(const Value& field) const {
    if (!m_open) return engineProblem(kErrNoCurrent);
    const Field* f = nullptr;
    switch (resolveField(*m_open, field, f)) {
    case FieldArg::Found:
        return f->name;
    case FieldArg::Missing:
        return engineProblem(kErrNoField);
    case FieldArg::BadKind:
        break;
    }
    fatalError(0, badFieldKindMessage());
}

const std::vector<FieldSpec>& Table::fields() const {
    static const std::vector<FieldSpec> none;
    return m_open ? m_open->specs : none;
}

const std::filesystem::path& Table::path() const {
    static const std::filesystem::path none;
    return m_open ? m_open->fullPath : none;
}

const Text& Table::alias() const {
    static const Text none;
    return m_open ? m_open->alias : none;
}

const Text& Table::name() const {
    static const Text none;
    return m_open ? m_open->name : none;
}

namespace detail {

int OpenTable::flushRecord() {
    if (!recordDirty) return kOk;
    const int rc = file.write(recordOffset(recordIndex), record.data(), record.size());
    if (rc == kOk) recordDirty = false;
    return rc;
}

} // namespace detail

} // namespace iit::db
