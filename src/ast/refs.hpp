// References into the records of a parse, through which everything reads them, and the parse that owns them. What
// a parse writes never changes afterwards, so any number of readers may share it (the records are laid out in
// records.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "ast/arena.hpp"
#include "ast/enums.hpp"
#include "ast/file.hpp"
#include "ast/records.hpp"

namespace zorvane::ast {

using encoding::Byte;
using encoding::is_kind;
using encoding::ParameterFields;
using encoding::RecordKind;

class InstructionRef;
class BodyRef;
class SignatureRef;
class FunctionRef;

namespace detail {

// A cursor over a function's stream of records: each call gives the next record (its first byte, the tag), following
// links, or nullptr at the end record.
class BodyCursor {
public:
    explicit BodyCursor(const Byte* stream) noexcept : p_{stream} {}
    const Byte* next() noexcept;
    const Byte* position() const noexcept { return p_; }

private:
    const Byte* p_;
};

}  // namespace detail

// An instruction record. The accessors decode the few bytes before the field they read.
class InstructionRef {
public:
    explicit InstructionRef(const Byte* record) noexcept : at_{record} {}
    const Byte* record() const noexcept { return at_; }

    std::uint64_t offset() const noexcept { return encoding::instruction_offset(at_); }
    PTXOpcode opcode() const noexcept { return encoding::instruction_opcode(at_); }
    std::string_view modifiers() const noexcept;
    std::optional<std::uint64_t> is_predicated() const noexcept { return encoding::instruction_guard(at_); }
    encoding::InstructionHeader header() const noexcept;

    // The operands in order, as fields whose texts are views into the record.
    class Operands {
    public:
        Operands(const Byte* first, std::size_t count) noexcept : first_{first}, count_{count} {}
        std::size_t size() const noexcept { return count_; }
        template <class F>
        void for_each(F&& f) const {
            const Byte* p = first_;
            for (std::size_t i = 0; i < count_; ++i) f(encoding::get_record<PTXOperand>(p));
        }
        // The same, each operand's record whole.
        template <class F>
        void for_each_record(F&& f) const {
            const Byte* p = first_;
            for (std::size_t i = 0; i < count_; ++i) {
                const Byte* start = p;
                encoding::skip_record<PTXOperand>(p);
                f(encoding::Bytes{start, p});
            }
        }

    private:
        const Byte* first_;
        std::size_t count_;
    };
    Operands operands() const noexcept;

private:
    const Byte* at_;
};

// The records of one kind in a function's stream, in order.
template <RecordKind Kind>
class Records {
public:
    Records(const Byte* stream, std::size_t count) noexcept : stream_{stream}, count_{count} {}
    std::size_t size() const noexcept { return count_; }
    // f(record) for each record of the kind, its first byte being its tag.
    template <class F>
    void for_each(F&& f) const {
        detail::BodyCursor cursor{stream_};
        for (std::size_t seen = 0; seen < count_;) {
            const Byte* record = cursor.next();
            if (record == nullptr) return;
            if (!is_kind(*record, Kind)) continue;
            f(record);
            ++seen;
        }
    }

private:
    const Byte* stream_;
    std::size_t count_;
};

using InstructionRecords = Records<RecordKind::Instruction>;
using StatementRecords = Records<RecordKind::Statement>;

class BodyRef {
public:
    explicit BodyRef(const Byte* function) noexcept : function_{function} {}
    const Byte* record() const noexcept { return function_; }
    InstructionRecords instructions() const noexcept;
    StatementRecords statements() const noexcept;

private:
    const Byte* function_;
};

class SignatureRef {
public:
    explicit SignatureRef(const Byte* function) noexcept : function_{function} {}
    const Byte* record() const noexcept { return function_; }
    class Parameters {
    public:
        explicit Parameters(Records<RecordKind::Parameter> records) noexcept : records_{records} {}
        std::size_t size() const noexcept { return records_.size(); }
        template <class F>
        void for_each(F&& f) const {
            records_.for_each([&f](const Byte* record) { f(encoding::get_parameter(record)); });
        }

    private:
        Records<RecordKind::Parameter> records_;
    };
    Parameters parameters() const noexcept;

private:
    const Byte* function_;
};

class FunctionRef {
public:
    explicit FunctionRef(const Byte* record) noexcept : at_{record} {}
    const Byte* record() const noexcept { return at_; }

    std::string_view name() const noexcept;
    std::uint64_t offset() const noexcept;
    PTXLinkDirective link_directive() const noexcept;
    PTXFunctionKind kind() const noexcept;
    SignatureRef signature() const noexcept { return SignatureRef{at_}; }
    BodyRef body() const noexcept { return BodyRef{at_}; }

private:
    const Byte* at_;
};

class FileRef {
public:
    FileRef(const Byte* record, const FunctionList* functions) noexcept : at_{record}, functions_{functions} {}
    const Byte* record() const noexcept { return at_; }

    PTXHeader header() const;
    class Functions {
    public:
        explicit Functions(const FunctionList* list) noexcept : list_{list} {}
        std::size_t size() const noexcept { return list_->size(); }
        FunctionRef operator[](std::size_t i) const noexcept { return FunctionRef{(*list_)[i]}; }
        template <class F>
        void for_each(F&& f) const {
            list_->for_each([&f](const Byte* record) { f(FunctionRef{record}); });
        }

    private:
        const FunctionList* list_;
    };
    Functions functions() const noexcept { return Functions{functions_}; }

private:
    const Byte* at_;
    const FunctionList* functions_;
};

// The records of one parse, owned.
class ParsedFile {
public:
    ParsedFile(Arena arena, const Byte* file, FunctionList functions) noexcept
        : arena_{std::move(arena)}, file_{file}, functions_{std::move(functions)} {}
    FileRef root() const noexcept { return FileRef{file_, &functions_}; }
    // The bytes that the tree takes.
    std::size_t capacity() const noexcept { return arena_.capacity() + functions_.capacity(); }

private:
    Arena arena_;
    const Byte* file_;
    FunctionList functions_;
};

}  // namespace zorvane::ast
