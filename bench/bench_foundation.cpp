// Foundation figures: data pipe throughput between two threads beside memcpy on one
// thread, interning an existing text, and JSON load and save of a 100 KB file.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "velk/core/datapipe.h"
#include "velk/core/filename.h"
#include "velk/core/json.h"
#include "velk/core/stringid.h"
#include "velk/core/thread.h"

using namespace velk;

// One block read per iteration while a second thread keeps the pipe full.
static void BM_DataPipeTwoThreads(benchmark::State& state) {
    const uint32_t size = uint32_t(state.range(0));
    datapipe_t pipe;
    datapipe_initialise(pipe);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<unsigned char> block(size, 0x5a);
        while (!stop.load(std::memory_order_relaxed))
            if (!datapipe_commit(pipe, block.data(), size))
                break;
    });
    std::vector<unsigned char> sink(size);
    for (auto _ : state) {
        void* data = nullptr;
        unsigned long length = 0;
        while (!datapipe_read_begin(pipe, data, length))
            thread_yield();
        memcpy(sink.data(), data, length); // the reader takes the bytes out, as a queue does
        benchmark::DoNotOptimize(sink.data());
        datapipe_read_end(pipe);
    }
    stop = true;
    datapipe_read_detach(pipe);
    datapipe_close(pipe);
    writer.join();
    datapipe_release(pipe);
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_DataPipeTwoThreads)->Arg(64)->Arg(256 * 1024)->UseRealTime();

// The physical limit: the same bytes copied twice on one thread (into and out of a pipe).
static void BM_MemcpyTwice(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    std::vector<unsigned char> source(size, 0x5a), middle(size), sink(size);
    for (auto _ : state) {
        memcpy(middle.data(), source.data(), size);
        benchmark::ClobberMemory();
        memcpy(sink.data(), middle.data(), size);
        benchmark::DoNotOptimize(sink.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_MemcpyTwice)->Arg(64)->Arg(256 * 1024);

static void BM_StringIdResolveExisting(benchmark::State& state) {
    stringid_t keep, id;
    stringid_resolve(keep, string_make("Canon EOS 5D Mark III 0123456789"));
    // A dictionary of realistic size: serials, property names, camera models.
    std::vector<stringid_t> others(2000);
    for (size_t i = 0; i < others.size(); ++i) {
        std::string text = "property-or-serial-" + std::to_string(i);
        stringid_resolve(others[i], string_make(text.c_str()));
    }
    const string_t text = string_make("Canon EOS 5D Mark III 0123456789");
    for (auto _ : state) {
        stringid_resolve(id, text);
        benchmark::DoNotOptimize(id.text);
    }
    stringid_remove_reference(id);
}
BENCHMARK(BM_StringIdResolveExisting);

namespace {

// An options-like document of about 100 KB.
std::string make_document() {
    std::string text = "{\n  \"presets\": [\n";
    for (int i = 0; text.size() < 100 * 1024; ++i) {
        if (i > 0)
            text += ",\n";
        text += "    { \"name\": \"Preset " + std::to_string(i) +
                "\", \"photoPath\": \"/home/user/Pictures/Fennick/shoot-" + std::to_string(i) +
                "\", \"filenameExpression\": \"[B]_[S4]_[N]\", \"sequenceNum\": " +
                std::to_string(i * 7) + ", \"ratio\": 0.125000, \"enabled\": true }";
    }
    text += "\n  ]\n}";
    return text;
}

} // namespace

static void BM_JsonLoad100KB(benchmark::State& state) {
    std::string text = make_document();
    json_reader_t reader;
    json_initialise(reader);
    for (auto _ : state) {
        bool ok = json_load(reader, string_t{text.c_str(), uint32_t(text.size())});
        benchmark::DoNotOptimize(ok);
    }
    json_release(reader);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_JsonLoad100KB);

// Writes the parsed document back to a file, through the temporary file, flush to disk
// and rename that every save does.
static void BM_JsonSave100KB(benchmark::State& state) {
    std::string text = make_document();
    json_reader_t reader;
    json_initialise(reader);
    json_load(reader, string_t{text.c_str(), uint32_t(text.size())});
    const json_array_t* presets = json_get_member_array(json_get_root_object(reader), "presets");
    char folder[] = "/tmp/fennick-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string path = std::string(folder) + "/options.json";
    filename_t file;
    filename_initialise(file);
    filename_set(file, string_make(path.c_str()));
    for (auto _ : state) {
        json_writer_t writer;
        json_clear(writer);
        json_open(writer, file);
        json_block_t root, list;
        json_begin_object(writer, nullptr, root, nullptr, true);
        json_begin_array(writer, &root, list, "presets", true);
        for (uint32_t i = 0; i < json_get_num_elements(presets); ++i) {
            const json_object_t* preset = json_get_element_object(presets, i);
            json_block_t entry;
            json_begin_object(writer, &list, entry, nullptr, false);
            json_add_string(entry, "name", json_get_member_string(preset, "name"));
            json_add_string(entry, "photoPath", json_get_member_string(preset, "photoPath"));
            json_add_string(entry, "filenameExpression",
                            json_get_member_string(preset, "filenameExpression"));
            json_add_int(entry, "sequenceNum", json_get_member_int(preset, "sequenceNum"));
            json_add_float(entry, "ratio", json_get_member_float(preset, "ratio"));
            json_add_bool(entry, "enabled", json_get_member_bool(preset, "enabled"));
            json_end_object(entry);
        }
        json_end_array(list);
        json_end_object(root);
        if (!json_close(writer)) {
            state.SkipWithError("save failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    unlink(path.c_str());
    rmdir(folder);
    filename_release(file);
    json_release(reader);
}
BENCHMARK(BM_JsonSave100KB)->UseRealTime();

BENCHMARK_MAIN();
