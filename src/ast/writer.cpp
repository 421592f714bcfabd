// Writing a parse's records into its arena.
#include "ast/writer.hpp"

#include <cstring>
#include <string>

#include "base/failure.hpp"

namespace zorvane::ast {

using namespace encoding;

namespace {

std::uint32_t checked_count(std::size_t count, const char* what) {
    if (count > UINT32_MAX) throw base::InternalError{std::string{"a function holds more than 4294967295 "} + what};
    return static_cast<std::uint32_t>(count);
}

}  // namespace

Byte* TreeWriter::link_new_chunk(std::size_t size) {
    Byte* link = arena_.cursor();
    arena_.new_chunk(size + kLinkSize);
    if (link != nullptr) {
        link[0] = 0;
        put_fixed<const Byte*>(link + 1, arena_.cursor());
    }
    return arena_.cursor();
}

Byte* TreeWriter::framed_room(std::size_t size) {
    const std::size_t framed = varint_size(size) + size;
    Byte* at = room(framed);
    Store store{at};
    put_varint(store, std::uint64_t{size});
    arena_.advance(at + framed);
    return store.at;
}

void TreeWriter::finish_record(Byte* written, Byte* expected) {
    // Writing past the measured room would overrun the chunk: never let that pass unseen.
    ZORVANE_CHECK(written == expected, "a record took other than its measured size");
}

void TreeWriter::file_header(const PTXHeader& header) {
    Measure measure;
    put_file_header(measure, header);
    file_ = room(measure.size);
    Store store{file_};
    put_file_header(store, header);
    finish_record(store.at, file_ + measure.size);
    arena_.advance(store.at);
}

Byte* TreeWriter::begin_function(const FunctionHead& head) {
    Measure measure;
    put_function_head(measure, head);
    Byte* function = room(sizeof(FunctionCounts) + measure.size);
    Store store{function + sizeof(FunctionCounts)};
    put_function_head(store, head);
    finish_record(store.at, function + sizeof(FunctionCounts) + measure.size);
    arena_.advance(store.at);
    instructions_ = 0;
    statements_ = 0;
    parameters_ = 0;
    return function;
}

void TreeWriter::parameter(PTXType type, std::string_view name) {
    Measure measure;
    put_parameter(measure, {type, name});
    Byte* at = framed_room(measure.size);
    Store store{at};
    put_parameter(store, {type, name});
    finish_record(store.at, at + measure.size);
    ++parameters_;
}

void TreeWriter::end_function(Byte* function) {
    Byte* end = framed_room(1);
    end[0] = kEndTag;
    put_fixed(function,
              FunctionCounts{checked_count(instructions_, "instructions"), checked_count(statements_, "statements"),
                             checked_count(parameters_, "parameters")});
}

void TreeWriter::add_function(Byte* function) {
    ZORVANE_DEBUG_CHECK(file_ != nullptr, "a function added before the file header");
    functions_.push_back(function);
}

void TreeWriter::statement(const PTXStatement& stmt) {
    Measure measure;
    put_statement(measure, stmt);
    Byte* at = framed_room(measure.size);
    Store store{at};
    put_statement(store, stmt);
    finish_record(store.at, at + measure.size);
    ++statements_;
}

const Byte* TreeWriter::begin_loose_stream() {
    return room(0);
}

void TreeWriter::grow(std::size_t size) {
    const auto written = static_cast<std::size_t>(cursor_ - frame_);
    // Room doubles as a record grows, so that one of any length is copied a bounded number of times; once the record
    // has a chunk of its own, that chunk grows in place where it can, and its bytes are never kept twice.
    const std::size_t wanted = 2 * (written + size) + kLinkSize;
    if (record_owns_chunk_) {
        Byte* moved = arena_.resize_last(wanted);
        put_fixed<const Byte*>(link_to_record_ + 1, moved);
        frame_ = moved;
        cursor_ = moved + written;
        return;
    }
    Byte* old = frame_;
    arena_.new_chunk(wanted);
    Byte* fresh = arena_.cursor();
    std::memcpy(fresh, old, written);
    // The stream goes on where the record now is; room for this link was made when the record began.
    old[0] = 0;
    put_fixed<const Byte*>(old + 1, fresh);
    link_to_record_ = old;
    record_owns_chunk_ = true;
    frame_ = fresh;
    cursor_ = fresh + written;
}

void TreeWriter::open_gap(std::size_t offset, std::size_t width) {
    reserve(width);
    Byte* at = record() + offset;
    std::memmove(at + width, at, static_cast<std::size_t>(cursor_ - at));
    cursor_ += width;
}

void TreeWriter::end_vector(std::size_t start, std::uint64_t count) {
    // Nearly every list is short enough for the byte kept for its count.
    const std::size_t width = varint_size(count);
    if (width > 1) open_gap(start + 2, width - 1);
    Store store{record() + start + 1};
    put_varint(store, count);
}

void TreeWriter::end_long_instruction(std::size_t operand_count) {
    if (operand_count < kCountInFlags) {
        record()[kFlagsAt] = static_cast<Byte>(record()[kFlagsAt] | (operand_count << kCountShift));
    } else {
        record()[kFlagsAt] = static_cast<Byte>(record()[kFlagsAt] | (kCountInFlags << kCountShift));
        const std::size_t width = varint_size(operand_count);
        open_gap(operands_at_, width);
        Store store{record() + operands_at_};
        put_varint(store, std::uint64_t{operand_count});
    }
    const auto size = static_cast<std::size_t>(cursor_ - record());
    const std::size_t width = varint_size(size);
    if (width > 1) open_gap(0, width - 1);
    Store store{frame_};
    put_varint(store, std::uint64_t{size});
    arena_.advance(cursor_);
    ++instructions_;
    if (record_owns_chunk_) {
        // A record that grew into a chunk of its own gives back the room it doubled into and did not use, so that the
        // longest instruction keeps no more than its record; the next record goes into a new chunk.
        const auto used = static_cast<std::size_t>(cursor_ - frame_);
        Byte* kept = arena_.resize_last(used + kLinkSize);
        put_fixed<const Byte*>(link_to_record_ + 1, kept);
        arena_.advance(kept + used);
        record_owns_chunk_ = false;
    }
}

ParsedFile TreeWriter::finish() && {
    ZORVANE_CHECK(file_ != nullptr, "a tree finished without its file header");
    return ParsedFile{std::move(arena_), file_, std::move(functions_)};
}

}  // namespace zorvane::ast
