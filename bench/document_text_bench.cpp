// MB/s of the document text searches on a large manual document, with a single-byte and a double-byte
// lead-byte table, beside memmem over the same bytes in the same run.
#include <benchmark/benchmark.h>
#include <string.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "document_text.h"

namespace {

constexpr std::size_t kDocumentSize = 4 << 20;
constexpr unsigned char kCp932Ranges[12] = {0x81, 0x9F, 0xE0, 0xFC};

enum class Table { kSingleByte, kCp932 };
enum class Placement { kAbsent, kAtEnd };

// A Japanese manual document in code page 932: dense markup, double-byte text, no tag and no comment in
// its body; the sought sequence, when present, is its last bytes.
std::string BuildDocument(std::string_view sequence, Placement placement) {
    const std::string_view head =
        "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\r\n"
        "<title>\x91\x80\x8D\xEC\x83\x7D\x83\x6A\x83\x85\x83\x41\x83\x8B</title>\r\n"
        "<link rel=\"stylesheet\" href=\"../style.css\" type=\"text/css\">\r\n</head>\r\n<body>\r\n";
    const std::string_view block =
        "<div class=\"section\"><h2 id=\"s1\">\x90\xDD\x92\xE8\x82\xCC\x95\xCF\x8D\x58</h2>\r\n"
        "<p>\x83\x81\x83\x6A\x83\x85\x81\x5B\x82\xA9\x82\xE7<b>[\x83\x63\x81\x5B\x83\x8B]</b>\x82\xF0"
        "\x91\x49\x91\xF0\x82\xB5\x81\x41<a href=\"options.htm#general\">\x83\x49\x83\x76\x83\x56\x83\x87"
        "\x83\x93</a>\x89\xE6\x96\xCA\x82\xF0\x95\x5C\x8E\xA6\x82\xB5\x82\xDC\x82\xB7\x81\x42</p>\r\n"
        "<table border=\"1\"><tr><td>C:\\Program Files\\</td><td>\x8D\x80\x96\xDA</td></tr></table>\r\n"
        "<ul><li><img src=\"images/icon.gif\" alt=\"\x83\x41\x83\x43\x83\x52\x83\x93\"> Step 1</li>"
        "<li>Step 2 &gt; Step 3</li></ul>\r\n<!-- section end --></div>\r\n";
    std::string document(head);
    while (document.size() + block.size() + sequence.size() < kDocumentSize) document += block;
    document.append(kDocumentSize - document.size() - sequence.size(), ' ');
    document += placement == Placement::kAtEnd ? std::string(sequence) : std::string(sequence.size(), ' ');
    return document;
}

LeadByteTable MakeTable(Table table) {
    return table == Table::kCp932 ? MakeLeadByteTable(kCp932Ranges, sizeof kCp932Ranges) : LeadByteTable{};
}

void FindSequenceBench(benchmark::State& state, std::string_view sequence, Table table, Placement placement) {
    const std::string document = BuildDocument(sequence, placement);
    const LeadByteTable leadBytes = MakeTable(table);
    const std::size_t expected =
        placement == Placement::kAtEnd ? document.size() - sequence.size() : std::string_view::npos;
    for (auto _ : state) {
        const std::size_t found = FindSequence(document, sequence, leadBytes);
        benchmark::DoNotOptimize(found);
        if (found != expected) state.SkipWithError("wrong position");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(document.size()));
}

void MemmemBench(benchmark::State& state, std::string_view sequence, Placement placement) {
    const std::string document = BuildDocument(sequence, placement);
    const void* expected =
        placement == Placement::kAtEnd ? document.data() + document.size() - sequence.size() : nullptr;
    for (auto _ : state) {
        const void* found = ::memmem(document.data(), document.size(), sequence.data(), sequence.size());
        benchmark::DoNotOptimize(found);
        if (found != expected) state.SkipWithError("wrong position");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(document.size()));
}

}  // namespace

BENCHMARK_CAPTURE(FindSequenceBench, tag_single_byte_absent, kCompatibilityTag, Table::kSingleByte,
                  Placement::kAbsent);
BENCHMARK_CAPTURE(FindSequenceBench, tag_cp932_absent, kCompatibilityTag, Table::kCp932, Placement::kAbsent);
BENCHMARK_CAPTURE(MemmemBench, tag_absent, kCompatibilityTag, Placement::kAbsent);
BENCHMARK_CAPTURE(FindSequenceBench, tag_single_byte_at_end, kCompatibilityTag, Table::kSingleByte,
                  Placement::kAtEnd);
BENCHMARK_CAPTURE(FindSequenceBench, tag_cp932_at_end, kCompatibilityTag, Table::kCp932, Placement::kAtEnd);
BENCHMARK_CAPTURE(MemmemBench, tag_at_end, kCompatibilityTag, Placement::kAtEnd);

BENCHMARK_CAPTURE(FindSequenceBench, comment_single_byte_absent, kInternetZoneComment, Table::kSingleByte,
                  Placement::kAbsent);
BENCHMARK_CAPTURE(FindSequenceBench, comment_cp932_absent, kInternetZoneComment, Table::kCp932,
                  Placement::kAbsent);
BENCHMARK_CAPTURE(MemmemBench, comment_absent, kInternetZoneComment, Placement::kAbsent);
BENCHMARK_CAPTURE(FindSequenceBench, comment_single_byte_at_end, kInternetZoneComment, Table::kSingleByte,
                  Placement::kAtEnd);
BENCHMARK_CAPTURE(FindSequenceBench, comment_cp932_at_end, kInternetZoneComment, Table::kCp932,
                  Placement::kAtEnd);
BENCHMARK_CAPTURE(MemmemBench, comment_at_end, kInternetZoneComment, Placement::kAtEnd);
