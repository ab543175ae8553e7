// The kernel routines outside the framework: time, IRQL, the event log, power, strings.
#include <cstdarg>
#include <cstring>
#include <limits>
#include <type_traits>

#include "framework.h"

namespace kmdf::detail {
namespace {

struct ClockState {
    std::mutex mutex;
    VirtualClock builtIn;
    Clock* current = &builtIn;
    // A VirtualClock is not thread-safe by itself; the framework serialises calls to it.
    // Other clocks may block in Delay and must look after themselves.
    bool serialise = true;
};

ClockState& Clocks() {
    static ClockState state;
    return state;
}

LONGLONG ClockNow() {
    ClockState& clocks = Clocks();
    std::unique_lock lock(clocks.mutex);
    Clock* clock = clocks.current;
    if (clocks.serialise) return clock->Now();
    lock.unlock();
    return clock->Now();
}

void ClockDelay(LONGLONG duration) {
    ClockState& clocks = Clocks();
    std::unique_lock lock(clocks.mutex);
    Clock* clock = clocks.current;
    if (clocks.serialise) return clock->Delay(duration);
    lock.unlock();
    clock->Delay(duration);
}

struct PendingEntry {
    std::unique_ptr<std::uint8_t[]> bytes;
    size_t size = 0;
    PVOID ioObject = nullptr;
};

struct LogState {
    std::mutex mutex;
    std::unordered_map<void*, PendingEntry> allocated;  // allocated, not yet written
    std::vector<ErrorLogEntry> written;
    bool failAllocation = false;
};

LogState& Log() {
    static LogState state;
    return state;
}

struct DebugOutputState {
    std::mutex mutex;
    std::deque<std::string> messages;
};

DebugOutputState& DebugMessages() {
    static DebugOutputState state;
    return state;
}

std::atomic<std::uint64_t> userPresentCount{0};

thread_local KIRQL currentIrql = PASSIVE_LEVEL;

}  // namespace

KIRQL& ThreadIrql() {
    return currentIrql;
}

void ResetKernelState() {
    {
        ClockState& clocks = Clocks();
        std::lock_guard lock(clocks.mutex);
        clocks.builtIn = VirtualClock{};
        clocks.current = &clocks.builtIn;
        clocks.serialise = true;
    }
    {
        LogState& log = Log();
        std::lock_guard lock(log.mutex);
        log.allocated.clear();
        log.written.clear();
        log.failAllocation = false;
    }
    {
        DebugOutputState& debug = DebugMessages();
        std::lock_guard lock(debug.mutex);
        debug.messages.clear();
    }
    userPresentCount.store(0);
    currentIrql = PASSIVE_LEVEL;
}

}  // namespace kmdf::detail

using namespace kmdf::detail;

// ---- time ----

namespace kmdf {

void SetClock(Clock* clock) {
    ClockState& clocks = Clocks();
    std::lock_guard lock(clocks.mutex);
    clocks.current = clock != nullptr ? clock : &clocks.builtIn;
    clocks.serialise = dynamic_cast<VirtualClock*>(clocks.current) != nullptr;
}

Clock& CurrentClock() {
    ClockState& clocks = Clocks();
    std::lock_guard lock(clocks.mutex);
    return *clocks.current;
}

}  // namespace kmdf

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE /*waitMode*/, BOOLEAN /*alertable*/, PLARGE_INTEGER interval) {
    if (ThreadIrql() > PASSIVE_LEVEL)
        Fatal("KeDelayExecutionThread", "called above PASSIVE_LEVEL (under a spin lock?)");
    if (interval == nullptr) return STATUS_INVALID_PARAMETER;
    constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
    const LONGLONG value = interval->QuadPart;
    if (value < 0) {
        ClockDelay(value == std::numeric_limits<LONGLONG>::min() ? kMax : -value);
    } else if (value > 0) {
        // An absolute system time: wait only if it is still ahead.
        const LONGLONG now = ClockNow();
        if (value > now) ClockDelay(now < 0 && value > kMax + now ? kMax : value - now);
    }
    return STATUS_SUCCESS;
}

void KeQuerySystemTime(PLARGE_INTEGER currentTime) {
    if (currentTime == nullptr) Fatal("KeQuerySystemTime", "null time");
    currentTime->QuadPart = ClockNow();
}

ULONGLONG KeQueryInterruptTime() {
    const LONGLONG now = ClockNow();
    return now < 0 ? 0 : static_cast<ULONGLONG>(now);
}

KIRQL KeGetCurrentIrql() {
    return ThreadIrql();
}

// ---- event log ----

PVOID IoAllocateErrorLogEntry(PVOID ioObject, UCHAR entrySize) {
    const ULONG size = entrySize;
    if (ioObject == nullptr || size < sizeof(IO_ERROR_LOG_PACKET) || size > ERROR_LOG_MAXIMUM_SIZE) return nullptr;
    LogState& log = Log();
    std::lock_guard lock(log.mutex);
    if (log.failAllocation) return nullptr;
    PendingEntry entry;
    entry.bytes.reset(new std::uint8_t[size]());
    entry.size = size;
    entry.ioObject = ioObject;
    void* raw = entry.bytes.get();
    log.allocated.emplace(raw, std::move(entry));
    return raw;
}

void IoWriteErrorLogEntry(PVOID elEntry) {
    LogState& log = Log();
    std::lock_guard lock(log.mutex);
    auto it = log.allocated.find(elEntry);
    if (it == log.allocated.end())
        Fatal("IoWriteErrorLogEntry", "not an entry from IoAllocateErrorLogEntry, or one written already");
    kmdf::ErrorLogEntry written;
    written.IoObject = it->second.ioObject;
    written.Bytes.assign(it->second.bytes.get(), it->second.bytes.get() + it->second.size);
    log.written.push_back(std::move(written));
    log.allocated.erase(it);
}

namespace kmdf {

std::u16string ErrorLogEntry::InsertionString() const {
    if (Bytes.size() < sizeof(IO_ERROR_LOG_PACKET)) return {};
    IO_ERROR_LOG_PACKET header;
    std::memcpy(&header, Bytes.data(), sizeof header);
    if (header.NumberOfStrings == 0) return {};
    std::u16string text;
    for (size_t at = header.StringOffset; at + sizeof(char16_t) <= Bytes.size(); at += sizeof(char16_t)) {
        char16_t c;
        std::memcpy(&c, Bytes.data() + at, sizeof c);
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

const std::vector<ErrorLogEntry>& ErrorLog() {
    LogState& log = Log();
    std::lock_guard lock(log.mutex);
    return log.written;
}

std::vector<ErrorLogEntry> TakeErrorLog() {
    LogState& log = Log();
    std::lock_guard lock(log.mutex);
    std::vector<ErrorLogEntry> taken;
    taken.swap(log.written);
    return taken;
}

void FailErrorLogAllocation(bool fail) {
    LogState& log = Log();
    std::lock_guard lock(log.mutex);
    log.failAllocation = fail;
}

// ---- power ----

std::uint64_t UserPresentCount() {
    return userPresentCount.load();
}

}  // namespace kmdf

void PoSetSystemState(EXECUTION_STATE flags) {
    if ((flags & ES_USER_PRESENT) != 0) userPresentCount.fetch_add(1);
}

// ---- strings ----

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    if (destination == nullptr) Fatal("RtlInitUnicodeString", "null destination");
    destination->Buffer = const_cast<PWSTR>(source);
    if (source == nullptr) {
        destination->Length = 0;
        destination->MaximumLength = 0;
        return;
    }
    // The longest string a UNICODE_STRING can describe, terminator included.
    constexpr size_t kMaxChars = 0xFFFC / sizeof(WCHAR);
    size_t chars = 0;
    while (chars < kMaxChars && source[chars] != 0) ++chars;
    destination->Length = static_cast<USHORT>(chars * sizeof(WCHAR));
    destination->MaximumLength = static_cast<USHORT>(destination->Length + sizeof(WCHAR));
}

namespace {

// Collects the formatted text; keeps no more than the destination can take but counts all.
class FormatSink {
public:
    explicit FormatSink(size_t keep) : keep_(keep) {}
    void Put(char16_t c) {
        if (text_.size() < keep_) text_.push_back(c);
        ++produced_;
    }
    void Repeat(char16_t c, size_t n) {
        // Past what fits, one more character already tells that it does not.
        for (size_t i = 0; i < n && produced_ <= keep_; ++i) Put(c);
    }
    const std::u16string& Text() const { return text_; }
    size_t Produced() const { return produced_; }

private:
    size_t keep_;
    size_t produced_ = 0;
    std::u16string text_;
};

struct FieldFormat {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
    enum { Default, Short, Long32, Long64, Size, Wide } length = Default;
};

// Widths beyond what any UNICODE_STRING holds only need to overflow.
constexpr size_t kWidthCap = 0x10000;

void PutPadded(FormatSink& out, const FieldFormat& field, const std::u16string& body, size_t signPrefixLength) {
    const size_t pad = field.width > body.size() ? field.width - body.size() : 0;
    if (field.left) {
        for (char16_t c : body) out.Put(c);
        out.Repeat(u' ', pad);
    } else if (field.zero && signPrefixLength != std::u16string::npos) {
        for (size_t i = 0; i < signPrefixLength; ++i) out.Put(body[i]);
        out.Repeat(u'0', pad);
        for (size_t i = signPrefixLength; i < body.size(); ++i) out.Put(body[i]);
    } else {
        out.Repeat(u' ', pad);
        for (char16_t c : body) out.Put(c);
    }
}

void PutInteger(FormatSink& out, FieldFormat field, bool negative, std::uint64_t magnitude, unsigned base, bool upper,
                const char16_t* prefix) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string number;
    do {
        number.insert(number.begin(), static_cast<char16_t>(digits[magnitude % base]));
        magnitude /= base;
    } while (magnitude != 0);
    if (field.hasPrecision) {
        if (field.precision == 0 && number == u"0") number.clear();
        while (number.size() < field.precision && number.size() < kWidthCap) number.insert(number.begin(), u'0');
    }
    std::u16string head;
    if (negative) {
        head = u"-";
    } else if (field.plus) {
        head = u"+";
    } else if (field.space) {
        head = u" ";
    }
    if (prefix != nullptr) head += prefix;
    // Zero padding goes between the sign and the digits, and not with a precision.
    const size_t split = field.hasPrecision ? std::u16string::npos : head.size();
    PutPadded(out, field, head + number, split);
}

template <typename Char>
void PutString(FormatSink& out, const FieldFormat& field, const Char* text) {
    std::u16string body;
    if (text == nullptr) {
        body = u"(null)";
    } else {
        for (size_t i = 0; text[i] != 0; ++i) {
            if (field.hasPrecision && i >= field.precision) break;
            if (i >= kWidthCap * 2) break;  // longer than any destination
            body.push_back(static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(text[i])));
        }
    }
    if (field.hasPrecision && body.size() > field.precision) body.resize(field.precision);
    FieldFormat plain = field;
    plain.zero = false;
    PutPadded(out, plain, body, std::u16string::npos);
}

// ---- one field: %[flags][width][.precision][size]conversion ----
// The format is wide (RtlUnicodeStringPrintf) or narrow (DbgPrintEx); `at` advances past
// what each step reads. Arguments come through a va_list pointer so that every step
// consumes them from the one list.

template <typename Char>
size_t ReadNumber(const Char* format, size_t& at) {
    size_t value = 0;
    while (format[at] >= '0' && format[at] <= '9') {
        value = value * 10 + static_cast<size_t>(format[at] - '0');
        if (value > kWidthCap) value = kWidthCap;
        ++at;
    }
    return value;
}

template <typename Char>
void ReadFlags(const Char* format, size_t& at, FieldFormat& field) {
    for (;; ++at) {
        switch (format[at]) {
            case '-':
                field.left = true;
                break;
            case '0':
                field.zero = true;
                break;
            case '+':
                field.plus = true;
                break;
            case ' ':
                field.space = true;
                break;
            case '#':
                field.alternate = true;
                break;
            default:
                return;
        }
    }
}

// A negative '*' width means left alignment; a negative '*' precision means none.
template <typename Char>
void ReadWidthAndPrecision(const Char* format, size_t& at, va_list* args, FieldFormat& field) {
    if (format[at] == '*') {
        const int width = va_arg(*args, int);
        if (width < 0) field.left = true;
        const long long magnitude = width < 0 ? -static_cast<long long>(width) : width;
        field.width = magnitude > static_cast<long long>(kWidthCap) ? kWidthCap : static_cast<size_t>(magnitude);
        ++at;
    } else {
        field.width = ReadNumber(format, at);
    }
    if (format[at] != '.') return;
    ++at;
    field.hasPrecision = true;
    if (format[at] == '*') {
        const int precision = va_arg(*args, int);
        field.hasPrecision = precision >= 0;
        field.precision = precision < 0 ? 0 : static_cast<size_t>(precision);
        if (field.precision > kWidthCap) field.precision = kWidthCap;
        ++at;
    } else {
        field.precision = ReadNumber(format, at);
    }
}

// Windows sizes: long is 32 bits.
template <typename Char>
void ReadSize(const Char* format, size_t& at, FieldFormat& field) {
    if (format[at] == 'h') {
        field.length = FieldFormat::Short;
        ++at;
    } else if (format[at] == 'l' && format[at + 1] == 'l') {
        field.length = FieldFormat::Long64;
        at += 2;
    } else if (format[at] == 'l') {
        field.length = FieldFormat::Long32;
        ++at;
    } else if (format[at] == 'w') {
        field.length = FieldFormat::Wide;
        ++at;
    } else if (format[at] == 'z') {
        field.length = FieldFormat::Size;
        ++at;
    } else if (format[at] == 'I' && format[at + 1] == '6' && format[at + 2] == '4') {
        field.length = FieldFormat::Long64;
        at += 3;
    } else if (format[at] == 'I' && format[at + 1] == '3' && format[at + 2] == '2') {
        field.length = FieldFormat::Long32;
        at += 3;
    } else if (format[at] == 'I') {
        field.length = FieldFormat::Size;
        ++at;
    }
}

long long SignedArgument(const FieldFormat& field, va_list* args) {
    switch (field.length) {
        case FieldFormat::Long64:
            return va_arg(*args, long long);
        case FieldFormat::Size:
            return static_cast<long long>(va_arg(*args, std::intptr_t));
        case FieldFormat::Short:
            return static_cast<short>(va_arg(*args, int));
        default:
            return va_arg(*args, int);
    }
}

std::uint64_t UnsignedArgument(const FieldFormat& field, va_list* args) {
    switch (field.length) {
        case FieldFormat::Long64:
            return va_arg(*args, unsigned long long);
        case FieldFormat::Size:
            return va_arg(*args, std::uintptr_t);
        case FieldFormat::Short:
            return static_cast<unsigned short>(va_arg(*args, unsigned int));
        default:
            return va_arg(*args, unsigned int);
    }
}

// As in the kernel, %s and %c take the routine's own kind of text and %S and %C the
// other kind; h makes either narrow, l and w wide.
bool NarrowText(char16_t conversion, const FieldFormat& field, bool narrowRoutine) {
    if (field.length == FieldFormat::Short) return true;
    if (field.length == FieldFormat::Long32 || field.length == FieldFormat::Wide) return false;
    const bool upper = conversion == u'S' || conversion == u'C';
    return upper != narrowRoutine;
}

void PutCharacter(FormatSink& out, const FieldFormat& field, bool narrow, int value) {
    const char16_t c = narrow ? static_cast<char16_t>(static_cast<unsigned char>(value)) : static_cast<char16_t>(value);
    FieldFormat plain = field;
    plain.zero = false;
    PutPadded(out, plain, std::u16string(1, c), std::u16string::npos);
}

// Returns false for a conversion the routines do not know, or a format ending inside one.
bool PutConversion(FormatSink& out, FieldFormat field, char16_t conversion, va_list* args, bool narrowRoutine) {
    switch (conversion) {
        case u'd':
        case u'i': {
            const long long value = SignedArgument(field, args);
            const std::uint64_t magnitude =
                value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
            PutInteger(out, field, value < 0, magnitude, 10, false, nullptr);
            return true;
        }
        case u'u':
            PutInteger(out, field, false, UnsignedArgument(field, args), 10, false, nullptr);
            return true;
        case u'x':
        case u'X': {
            const std::uint64_t value = UnsignedArgument(field, args);
            const bool upper = conversion == u'X';
            field.plus = field.space = false;
            PutInteger(out, field, false, value, 16, upper,
                       field.alternate && value != 0 ? (upper ? u"0X" : u"0x") : nullptr);
            return true;
        }
        case u'p':
            field.hasPrecision = true;
            field.precision = sizeof(void*) * 2;
            field.plus = field.space = false;
            PutInteger(out, field, false, reinterpret_cast<std::uintptr_t>(va_arg(*args, void*)), 16, true, nullptr);
            return true;
        case u'c':
        case u'C':
            PutCharacter(out, field, NarrowText(conversion, field, narrowRoutine), va_arg(*args, int));
            return true;
        case u's':
        case u'S':
            if (NarrowText(conversion, field, narrowRoutine))
                PutString(out, field, va_arg(*args, const char*));
            else
                PutString(out, field, va_arg(*args, const char16_t*));
            return true;
        default:
            return false;
    }
}

// Returns false for a format the routines do not understand.
template <typename Char>
bool Format(FormatSink& out, const Char* format, va_list* args) {
    constexpr bool kNarrowRoutine = std::is_same_v<Char, char>;
    for (size_t at = 0; format[at] != 0; ++at) {
        if (format[at] != '%') {
            out.Put(static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(format[at])));
            continue;
        }
        ++at;
        if (format[at] == '%') {
            out.Put(u'%');
            continue;
        }
        FieldFormat field;
        ReadFlags(format, at, field);
        ReadWidthAndPrecision(format, at, args, field);
        ReadSize(format, at, field);
        const auto conversion = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(format[at]));
        if (!PutConversion(out, field, conversion, args, kNarrowRoutine)) return false;
    }
    return true;
}

}  // namespace

NTSTATUS RtlUnicodeStringPrintf(PUNICODE_STRING destination, PCWSTR format, ...) {
    if (destination == nullptr || format == nullptr) return STATUS_INVALID_PARAMETER;
    const size_t capacity = destination->MaximumLength / sizeof(WCHAR);
    if (capacity != 0 && destination->Buffer == nullptr) return STATUS_INVALID_PARAMETER;

    FormatSink out(capacity);
    va_list args;
    va_start(args, format);
    const bool understood = Format(out, format, &args);
    va_end(args);

    // Success needs room for the terminator too: callers hand the buffer on as a C string.
    size_t kept = out.Text().size();
    NTSTATUS status = STATUS_SUCCESS;
    if (!understood) {
        kept = 0;
        status = STATUS_INVALID_PARAMETER;
    } else if (out.Produced() + 1 > capacity) {
        kept = capacity == 0 ? 0 : capacity - 1;
        status = STATUS_BUFFER_OVERFLOW;
    }
    if (kept != 0) std::memcpy(destination->Buffer, out.Text().data(), kept * sizeof(WCHAR));
    if (capacity != 0) destination->Buffer[kept] = 0;
    destination->Length = static_cast<USHORT>(kept * sizeof(WCHAR));
    return status;
}

// ---- debug output ----

namespace {

constexpr size_t kDebugMessageBytes = 512;
constexpr size_t kDebugMessagesKept = 256;

}  // namespace

ULONG DbgPrintEx(ULONG /*componentId*/, ULONG /*level*/, PCSTR format, ...) {
    if (format == nullptr) return STATUS_INVALID_PARAMETER;
    FormatSink out(kDebugMessageBytes);
    va_list args;
    va_start(args, format);
    const bool understood = Format(out, format, &args);
    va_end(args);
    if (!understood) return STATUS_INVALID_PARAMETER;

    std::string message;
    for (char16_t c : out.Text()) message.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    DebugOutputState& debug = DebugMessages();
    std::lock_guard lock(debug.mutex);
    if (debug.messages.size() == kDebugMessagesKept) debug.messages.pop_front();
    debug.messages.push_back(std::move(message));
    return STATUS_SUCCESS;
}

namespace kmdf {

std::vector<std::string> DebugOutput() {
    DebugOutputState& debug = DebugMessages();
    std::lock_guard lock(debug.mutex);
    return {debug.messages.begin(), debug.messages.end()};
}

std::vector<std::string> TakeDebugOutput() {
    DebugOutputState& debug = DebugMessages();
    std::lock_guard lock(debug.mutex);
    std::vector<std::string> taken(debug.messages.begin(), debug.messages.end());
    debug.messages.clear();
    return taken;
}

}  // namespace kmdf
