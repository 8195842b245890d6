// Benchmarks of the key lists on a 10,000-key listing (goal: under 50 ms for the three together)
// and of the processor share a wait for a sleeping program takes (goal: under 1%).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <benchmark/benchmark.h>

#include "pgp/pgpex.h"
#include "pgp/run2.h"
#include "platform/linux/headless_gui.h"
#include "platform/linux/linux_processes.h"

namespace quillet::pgp {
namespace {

constexpr int kKeys = 10000;

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("quillet-bench-") + std::to_string(getpid()) + "-" + name))
      .string();
}

void WriteListing(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "\r\nKey ring: 'pubring.pgp'\r\nType Bits/KeyID    Date       User ID\r\n";
  for (int i = 0; i < kKeys; ++i)
    out << "pub  1024/" << std::hex << 0x10000000 + i << std::dec << " 2026/01/01 User " << i
        << " <user" << i << "@example.com>\r\n";
  out << kKeys << " matching keys found.\r\n";
}

gui::FormSpec ListForm() {
  gui::ControlSpec list;
  list.name = "RecipList";
  list.kind = gui::ControlKind::kListBox;
  list.multi_select = true;
  gui::FormSpec form;
  form.name = "Form1";
  form.controls = {list};
  return form;
}

void BM_TrimKeyListing(benchmark::State& state) {
  const std::string path = TempPath("trim");
  for (auto _ : state) {
    state.PauseTiming();
    WriteListing(path);
    state.ResumeTiming();
    TPGP::TrimKeyListing(path);
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_TrimKeyListing)->Unit(benchmark::kMillisecond);

// A list control of a window, with the trimmed 10,000-key listing as its file.
struct KeyList {
  KeyList() {
    WriteListing(path);
    TPGP::TrimKeyListing(path);
    list.Filename = path;
  }
  ~KeyList() { std::filesystem::remove(path); }

  std::string path = TempPath("list");
  linux_platform::HeadlessGui gui;
  std::unique_ptr<gui::Window> window = gui.NewWindow(ListForm());
  TPGPList list{window->list_box("RecipList")};
};

void BM_LoadKeys(benchmark::State& state) {
  KeyList keys;
  for (auto _ : state) keys.list.LoadKeys();
}
BENCHMARK(BM_LoadKeys)->Unit(benchmark::kMillisecond);

void BM_UpdateSelectionAllSelected(benchmark::State& state) {
  KeyList keys;
  keys.list.LoadKeys();
  for (int i = 0; i < keys.list.box().Count(); ++i) keys.list.box().SetSelected(i, true);
  for (auto _ : state) keys.list.UpdateSelection();
}
BENCHMARK(BM_UpdateSelectionAllSelected)->Unit(benchmark::kMillisecond);

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_RunAndWaitCpuShare(benchmark::State& state) {
  linux_platform::HeadlessGui gui;
  linux_platform::LinuxProcesses processes(gui.input_fd());
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpu_before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    RunAndWait(processes, gui, "/bin/sh -c \"sleep 1\"", 5);
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += CpuSeconds() - cpu_before;
  }
  state.counters["cpu_share_percent"] = 100 * cpu / wall;
}
BENCHMARK(BM_RunAndWaitCpuShare)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillet::pgp

BENCHMARK_MAIN();
