// The writer that the parser fills a parse's arena with, as it reads the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ast/arena.hpp"
#include "ast/enums.hpp"
#include "ast/file.hpp"
#include "ast/instructions.hpp"
#include "ast/records.hpp"
#include "ast/refs.hpp"
#include "base/failure.hpp"

namespace zorvane::ast {

using encoding::kLinkSize;

// What the parser writes into a tree while it reads a module: the header, then function by function, the record
// of the function and the records of its body as they are read.
class TreeWriter {
public:
    TreeWriter() = default;
    // A writer that writes first into the caller's `size` bytes at `data` (Arena::lend).
    TreeWriter(Byte* data, std::size_t size) noexcept { arena_.lend(data, size); }

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
    void end_instruction(std::size_t operand_count) {
        // Nearly every instruction has a count that fits its flags and a record whose length fits the byte kept.
        const auto size = static_cast<std::size_t>(cursor_ - record());
        if (operand_count >= encoding::kCountInFlags || size >= 0x80 || record_owns_chunk_) [[unlikely]]
            return end_long_instruction(operand_count);
        record()[encoding::kFlagsAt] =
            static_cast<Byte>(record()[encoding::kFlagsAt] | (operand_count << encoding::kCountShift));
        frame_[0] = static_cast<Byte>(size);
        arena_.advance(cursor_);
        ++instructions_;
    }
    void end_long_instruction(std::size_t operand_count);
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

}  // namespace zorvane::ast
