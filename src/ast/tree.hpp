// Parsed trees: the arena that holds the records of one parse, the writer that the parser fills it with, and the
// references through which everything reads them. What a parse writes never changes afterwards, so any number of
// readers may share it.
//
// Layout. The file record: the header; beside the arena, the list of the function records in written order, so that
// listing the functions touches none of them. A function record: the counts of its instructions, statements and
// parameters, its offset, link directive, kind and name, and then a stream of framed records (a varint length, then the
// record): its parameters, then its body's instructions and statements in the order of the text, ended by an end
// record. A record never spans chunks of the arena; a stream goes on in another chunk after a link (a zero length, then
// the address where it goes on). Everything is written as it is read, so that what a text holds never costs more than
// its records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "ast/enums.hpp"
#include "ast/file.hpp"
#include "ast/instructions.hpp"
#include "ast/records.hpp"
#include "base/failure.hpp"

namespace zorvane::ast {

using encoding::Byte;
using encoding::is_kind;
using encoding::kLinkSize;
using encoding::ParameterFields;
using encoding::RecordKind;

// Chunks of memory that never move, all freed with the arena.
class Arena {
public:
    Arena() noexcept = default;
    Arena(Arena&& other) noexcept
        : chunks_{std::move(other.chunks_)},
          cursor_{std::exchange(other.cursor_, nullptr)},
          limit_{std::exchange(other.limit_, nullptr)},
          next_size_{other.next_size_} {}
    Arena& operator=(Arena&& other) noexcept {
        Arena old{std::move(*this)};
        chunks_ = std::move(other.chunks_);
        cursor_ = std::exchange(other.cursor_, nullptr);
        limit_ = std::exchange(other.limit_, nullptr);
        next_size_ = other.next_size_;
        return *this;
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { release_from(0); }

    Byte* cursor() const noexcept { return cursor_; }
    std::size_t room() const noexcept { return static_cast<std::size_t>(limit_ - cursor_); }
    void advance(Byte* to) noexcept { cursor_ = to; }
    // Makes a new chunk, with room for at least `size` bytes, the current one.
    void new_chunk(std::size_t size);
    // Gives the last chunk, which nothing before the cursor uses, `size` bytes; returns where it now is, the cursor.
    Byte* resize_last(std::size_t size);

    struct Mark {
        std::size_t chunks;
        Byte* cursor;
        Byte* limit;
    };
    Mark mark() const noexcept { return {chunks_.size(), cursor_, limit_}; }
    // Gives back everything allocated since `mark`.
    void reset(const Mark& mark) noexcept;
    // The bytes of all chunks.
    std::size_t capacity() const noexcept;

private:
    struct Chunk {
        Byte* data;
        std::size_t size;
    };
    void release_from(std::size_t first) noexcept;

    std::vector<Chunk> chunks_;
    Byte* cursor_ = nullptr;
    Byte* limit_ = nullptr;
    std::size_t next_size_ = 0;
};

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

// The function records of a file in written order, in pages that never move: the list grows without copying
// what it holds, so that it takes the bytes of its entries and never twice as many.
class FunctionList {
public:
    void push_back(const Byte* function) {
        if (size_ % kPage == 0) {
            // Room in the list of pages first, so that the page below cannot be lost.
            if (pages_.size() == pages_.capacity()) pages_.reserve(2 * pages_.size() + 4);
            pages_.push_back(std::make_unique_for_overwrite<const Byte*[]>(kPage));
        }
        pages_.back()[size_++ % kPage] = function;
    }
    std::size_t size() const noexcept { return size_; }
    const Byte* operator[](std::size_t i) const noexcept { return pages_[i / kPage][i % kPage]; }
    template <class F>
    void for_each(F&& f) const {
        for (std::size_t i = 0; i < size_; ++i) f((*this)[i]);
    }
    std::size_t capacity() const noexcept { return pages_.size() * kPage * sizeof(const Byte*); }

private:
    static constexpr std::size_t kPage = 1024;
    std::vector<std::unique_ptr<const Byte*[]>> pages_;
    std::size_t size_ = 0;
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

// What the parser writes into a tree while it reads a module: the header, then function by function, the record
// of the function and the records of its body as they are read.

class TreeWriter {
public:
    TreeWriter() = default;

    void file_header(const PTXHeader& header);

    using FunctionHead = encoding::FunctionHead;
    // Writes a function record and opens its stream, which takes its parameters and then its body.
    Byte* begin_function(const FunctionHead& head);
    void parameter(PTXType type, std::string_view name);
    // Ends the stream of `function`, which holds what was added since begin_function.
    void end_function(Byte* function);
    // Appends a finished function to the file.
    void add_function(Byte* function);

    // An instruction written as it is read: its header, then each operand as soon as it is known, then its count.
    // Room is made as it goes; should the chunk run short, the record moves whole to a new one.
    void begin_instruction(const encoding::InstructionHeader& header) {
        // Its length byte, the longest header, and room for the first few operands.
        frame_ = room(1 + kLongestInstructionHeader + header.modifiers.size() + kOperandRoom);
        record_owns_chunk_ = false;
        encoding::Store store{record()};
        encoding::put_instruction_header(store, header);
        cursor_ = store.at;
        operands_at_ = static_cast<std::size_t>(cursor_ - record());
    }
    void operand(const encoding::OperandFields& op) {
        reserve(kLongestOperand + encoding::text_size(op));
        encoding::Store store{cursor_};
        encoding::put_operand(store, op, [](std::size_t) { return encoding::RegisterFields{}; });
        cursor_ = store.at;
    }
    // A vector operand: its registers one by one, then its count; begin_vector gives the place to end it at, or to
    // take it back to when the list fails.
    std::size_t begin_vector() {
        reserve(2);
        const auto start = static_cast<std::size_t>(cursor_ - record());
        cursor_[0] = encoding::operand_tag(encoding::OperandKind::Vector);
        cursor_[1] = 0;  // the count, written when the list is whole
        cursor_ += 2;
        return start;
    }
    void vector_register(const encoding::RegisterFields& reg) {
        reserve(kLongestOperand + reg.name.size);
        encoding::Store store{cursor_};
        store.byte(static_cast<Byte>(reg.kind));
        encoding::put_register_payload(store, reg);
        cursor_ = store.at;
    }
    void end_vector(std::size_t start, std::uint64_t count);
    void take_back(std::size_t start) noexcept { cursor_ = record() + start; }
    void end_instruction(std::size_t operand_count);
    void statement(const PTXStatement& stmt);

    // A stream of records outside any function, for what a single line holds; the first record written after this
    // starts at the result, framed as in a function's stream.
    const Byte* begin_loose_stream();

    struct Mark {
        Arena::Mark arena;
        std::size_t instructions;
        std::size_t statements;
        std::size_t parameters;
    };
    Mark mark() const noexcept { return {arena_.mark(), instructions_, statements_, parameters_}; }
    void reset(const Mark& mark) noexcept {
        arena_.reset(mark.arena);
        instructions_ = mark.instructions;
        statements_ = mark.statements;
        parameters_ = mark.parameters;
    }

    ParsedFile finish() &&;

private:
    // Room for a record of `size` bytes with its length in front, where a body stream goes on; returns where the
    // record itself starts.
    Byte* framed_room(std::size_t size);
    // Room for `size` bytes in the current chunk, linking a new one in when there is too little left. A link always
    // fits after what is written, so that a stream can go on in another chunk from anywhere.
    Byte* room(std::size_t size) {
        if (arena_.room() < size + kLinkSize) [[unlikely]]
            return link_new_chunk(size);
        return arena_.cursor();
    }
    Byte* link_new_chunk(std::size_t size);
    void finish_record(Byte* written, Byte* expected);
    // An operand other than a vector: its tag and two numbers, or a text of its own on top.
    static constexpr std::size_t kLongestOperand = 1 + 2 * 10 + 2;
    // An instruction header: its opcode and flags bytes, and at most ten bytes for each of the offset, the guard and
    // the modifiers' length, which come on top; an operand count too large for the flags is made room for at the end.
    static constexpr std::size_t kLongestInstructionHeader = 2 + 3 * 10;
    // Room made ahead when an instruction begins, so that most never ask for more.
    static constexpr std::size_t kOperandRoom = 96;
    // Room for `size` more bytes of the instruction being written, moving it whole to a new chunk if need be. The
    // arena's cursor stays at the frame until the record is done; a link must still fit after the record.
    void reserve(std::size_t size) {
        if (arena_.room() < static_cast<std::size_t>(cursor_ - frame_) + size + kLinkSize) [[unlikely]]
            grow(size);
    }
    void grow(std::size_t size);
    // Makes `width` bytes of room at `offset` of the record, moving what follows it.
    void open_gap(std::size_t offset, std::size_t width);
    Byte* record() const noexcept { return frame_ + 1; }

    Arena arena_;
    Byte* file_ = nullptr;
    FunctionList functions_;
    std::size_t instructions_ = 0;  // of the function being written
    std::size_t statements_ = 0;
    std::size_t parameters_ = 0;
    // The instruction being written: its frame (one byte kept for its length, which is widened at the end when the
    // record is longer), where it has been written to, and where its operands start (from the record).
    Byte* frame_ = nullptr;
    Byte* cursor_ = nullptr;
    std::size_t operands_at_ = 0;
    // Whether it was moved into a chunk made for it, and where the link to that chunk is.
    bool record_owns_chunk_ = false;
    Byte* link_to_record_ = nullptr;
};

// Finds instructions by the offset of their mnemonic, which ascends through a file. The offsets are kept in blocks of
// up to 32 instructions that span less than 64 KiB, each a base and two bytes an instruction, which give an
// instruction's number among all of them; a sparse list of places in the functions' streams leads to its record
// after a few more. A place stands before a record wherever 32 steps have gone by since the last one, reading a
// record being a step and entering a function two, so that the first lookup of any instruction reads fewer than 32
// records and 16 functions whatever lies between instructions (statements, parameters, declarations), a run of
// functions without records costs one place, and the list takes less than a byte a step.
class InstructionIndex {
public:
    explicit InstructionIndex(FileRef file);

    // The number of the instruction whose mnemonic starts at `offset`, if any.
    std::optional<std::size_t> number_of(std::uint64_t offset) const noexcept;
    // The instruction of a number below instruction_count().
    InstructionRef instruction(std::size_t number) const noexcept;
    std::size_t instruction_count() const noexcept { return deltas_.size(); }

private:
    struct Block {
        std::uint64_t base;  // the offset of its first instruction
        std::size_t first;   // the number of that instruction
    };
    struct Checkpoint {
        std::size_t number;    // of the next instruction from here
        const Byte* stream;    // where a cursor reading on from here starts
        std::size_t function;  // whose stream that is
    };
    void add_offset(std::uint64_t offset);

    FileRef file_;
    std::vector<Block> blocks_;
    std::vector<std::uint16_t> deltas_;  // of each instruction's offset from its block's base
    std::vector<Checkpoint> checkpoints_;
};

}  // namespace zorvane::ast
