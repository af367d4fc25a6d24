// The Python module's engine (rivulon._rivulon): the library's detection and
// statistics over one sequence or a genome file, with the rows the batch
// program writes. The Python package (python/rivulon/__init__.py) checks
// the options and shapes the results; this file runs the work with the GIL
// released, one executor per call, and stops it on Ctrl-C.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "rivulon/executor.h"
#include "rivulon/genome.h"
#include "rivulon/rivulon.h"

namespace py = pybind11;

namespace {

// One row of the batch program's TSV; positions 1-based, inclusive.
struct Row {
  std::string seqid;
  int64_t start = 0, end = 0;
  int32_t motif_length = 0;
  double units = 0;
  std::string units_text;
  double value = 0;
  std::string value_text;
  int32_t definition = 0;
  std::string motif;
  int64_t length = 0;
  int64_t period = 0;
  double copies = 0;
  std::string consensus;
  int32_t percent_matches = 0, percent_indels = 0;
  int64_t consensus_score = 0;
  int32_t a = 0, c = 0, g = 0, t = 0;
  double entropy = 0;
  std::string canonical_motif;
};

// A record's name as Python text: UTF-8, any other byte kept as a lone
// surrogate (as os.fsdecode does), so that no name stops a scan.
py::str text_of(const std::string& bytes) {
  PyObject* decoded = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

std::vector<py::str> texts_of(const std::vector<std::string>& lines) {
  std::vector<py::str> out;
  for (const std::string& line : lines) out.push_back(text_of(line));
  return out;
}

// What a call examines with, as the Python side checked it.
struct Settings {
  rivulon::Options options;
  rivulon::Reporting reporting;
  bool keep_case = false;
  int32_t threads = 1;
};

// The rows of one record (its letters folded and split into stretches as
// the batch program does), and the stretches that could not be examined.
struct RecordRows {
  std::vector<Row> rows;
  std::vector<std::string> not_examined;
};

// A call on the stretch that starts at `stretch` in the bases held, which
// start at `offset` in their record.
Row row_of(const std::string& seqid, std::string_view record, int64_t stretch, int64_t offset, const rivulon::Call& call) {
  const rivulon::Repeat& r = call.repeat;
  const rivulon::RepeatStatistics& st = call.statistics;
  Row row;
  row.seqid = seqid;
  row.start = offset + stretch + r.start + 1;
  row.end = offset + stretch + r.end;
  row.motif_length = r.motif_length;
  row.units = r.units;
  row.units_text = r.units_text;
  row.value = r.value;
  row.value_text = r.value_text;
  row.definition = r.definition;
  const int64_t from = stretch + r.motif_start;
  const int64_t to = std::min<int64_t>(from + r.motif_length, static_cast<int64_t>(record.size()));
  row.motif = from >= 0 && from < to ? std::string(record.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)))
                                     : ".";
  row.length = st.length;
  row.period = static_cast<int64_t>(st.consensus.size());
  row.copies = st.copies;
  row.consensus = st.consensus;
  row.percent_matches = st.percent_matches;
  row.percent_indels = st.percent_indels;
  row.consensus_score = st.score;
  row.a = st.composition[0];
  row.c = st.composition[1];
  row.g = st.composition[2];
  row.t = st.composition[3];
  row.entropy = st.entropy;
  row.canonical_motif = st.canonical_motif;
  return row;
}

// Work spaces for the tasks of one call, each used by one task at a time.
// (Not thread_local: in a module loaded at run time, glibc aborts the process
// when it cannot allocate a new thread's thread-local storage, where the
// heap gives std::bad_alloc.)
class Workspaces {
 public:
  std::unique_ptr<rivulon::Workspace> take() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<rivulon::Workspace> w = std::move(free_.back());
        free_.pop_back();
        return w;
      }
    }
    return std::make_unique<rivulon::Workspace>();
  }
  void give_back(std::unique_ptr<rivulon::Workspace> w) {
    const std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(w));
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<rivulon::Workspace>> free_;
};

// Examines every stretch of `bases` (folded in place) on `executor`.
RecordRows examine(const std::string& seqid, char* bases, int64_t length, int64_t offset, const Settings& s,
                   rivulon::Executor& executor, const std::atomic<bool>& cancel) {
  const std::vector<rivulon::Segment> segments = rivulon::prepare_segments(bases, length, s.keep_case);
  const std::string_view record(bases, static_cast<size_t>(length));
  std::vector<std::vector<Row>> rows(segments.size());
  std::vector<std::optional<rivulon::Failure>> failures(segments.size());
  rivulon::Reporting reporting = s.reporting;
  reporting.cancel = &cancel;
  reporting.executor = &executor;
  Workspaces workspaces;
  {
    rivulon::TaskGroup group(executor);
    for (size_t k = 0; k < segments.size(); ++k) {
      group.run([&, k] {
        std::unique_ptr<rivulon::Workspace> workspace = workspaces.take();
        rivulon::RunControl control;
        control.executor = &executor;
        control.cancel = &cancel;
        const std::string_view stretch = record.substr(static_cast<size_t>(segments[k].start),
                                                       static_cast<size_t>(segments[k].length()));
        rivulon::Result found = rivulon::find_repeats(stretch, s.options, *workspace, control);
        workspaces.give_back(std::move(workspace));
        if (auto* failure = std::get_if<rivulon::Failure>(&found)) {
          failures[k] = std::move(*failure);
          return;
        }
        const auto& repeats = std::get<std::vector<rivulon::Repeat>>(found);
        for (const rivulon::Call& call : rivulon::report_calls(stretch, repeats, s.options, reporting)) {
          rows[k].push_back(row_of(seqid, record, segments[k].start, offset, call));
        }
      });
    }
    group.wait();
  }
  RecordRows out;
  for (size_t k = 0; k < segments.size(); ++k) {
    out.rows.insert(out.rows.end(), std::make_move_iterator(rows[k].begin()), std::make_move_iterator(rows[k].end()));
    if (failures[k] && failures[k]->cause != rivulon::Failure::Cause::kCancelled) {
      out.not_examined.push_back((seqid.empty() ? std::string("bases ") : seqid + ":") + std::to_string(offset + segments[k].start + 1) + "-" +
                                 std::to_string(offset + segments[k].end) + ": " + failures[k]->message);
    }
  }
  return out;
}

// Runs `work` on a thread of its own with the GIL released, and looks for
// Python's signals every 50 ms meanwhile: on Ctrl-C, `cancel` is set, the
// work ends at its next motif length, and KeyboardInterrupt is raised.
// Exceptions of the work (std::bad_alloc: MemoryError) are raised here.
template <typename Work>
void run_released(Work&& work, std::atomic<bool>& cancel) {
  std::exception_ptr failed;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  {
    py::gil_scoped_release released;
    std::thread worker;
    {
      const rivulon::SignalsKeptFromNewThreads kept;  // Python's handlers run on the main thread
      worker = std::thread([&] {
        try {
          work();
        } catch (...) {
          failed = std::current_exception();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
        ended.notify_all();
      });
    }
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) break;
      }
      // Once a signal is taken, or while the interpreter is ending (a daemon
      // thread's call: taking the GIL then would end this thread with the
      // worker still running), the work is only waited for.
      if (type != nullptr || _Py_IsFinalizing()) continue;
      const py::gil_scoped_acquire held;
      if (PyErr_CheckSignals() != 0) {
        PyErr_Fetch(&type, &value, &trace);
        cancel = true;
      }
    }
    worker.join();
  }
  if (type != nullptr) {
    PyErr_Restore(type, value, trace);
    throw py::error_already_set();
  }
  if (failed) std::rethrow_exception(failed);
}

int32_t threads_of(const Settings& s) {
  if (s.threads > 0) return s.threads;
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int32_t>(std::min(n, 1024U));
}

RecordRows find_in(const py::bytes& sequence, const Settings& s) {
  std::string bases = sequence;
  std::atomic<bool> cancel{false};
  RecordRows out;
  run_released([&] {
    rivulon::Executor executor(threads_of(s));
    out = examine("", bases.data(), static_cast<int64_t>(bases.size()), 0, s, executor, cancel);
  }, cancel);
  return out;
}

// A genome read record by record (or region by region), each examined when
// asked for; the executor lives as long as the scan.
class Scanner {
 public:
  Scanner(const std::string& path, const std::vector<std::string>& regions, const Settings& s)
      : settings_(s), executor_(threads_of(s)) {
    if (!reader_.open(path, regions)) {
      PyErr_SetString(PyExc_OSError, reader_.error().c_str());
      throw py::error_already_set();
    }
    warning_ = reader_.warning();
  }

  // (name, rows, stretches not examined) of the next record; None at the end.
  py::object next() {
    rivulon::FastaRecord record;
    rivulon::FastaReader::Status got = rivulon::FastaReader::Status::kEnd;
    RecordRows rows;
    std::atomic<bool> cancel{false};
    run_released([&] {
      got = reader_.next(record);
      if (got != rivulon::FastaReader::Status::kRecord) return;
      rows = examine(record.name, record.bases.get(), record.length, record.offset, settings_, executor_, cancel);
    }, cancel);
    if (got == rivulon::FastaReader::Status::kError) throw py::value_error(reader_.error());
    if (got == rivulon::FastaReader::Status::kEnd) return py::none();
    return py::make_tuple(text_of(record.name), std::move(rows.rows), texts_of(rows.not_examined));
  }

  const std::string& warning() const { return warning_; }

 private:
  Settings settings_;
  rivulon::Executor executor_;
  rivulon::FastaReader reader_;
  std::string warning_;
};

}  // namespace

PYBIND11_MODULE(_rivulon, m) {
  m.doc() = "The engine of the rivulon package; use the functions of `rivulon` itself.";
  py::class_<Row>(m, "Repeat", "One repeat: every column of rivulon-batch's TSV (positions 1-based, inclusive).")
      .def_property_readonly("seqid", [](const Row& r) { return text_of(r.seqid); })
      .def_readonly("start", &Row::start)
      .def_readonly("end", &Row::end)
      .def_readonly("motif_length", &Row::motif_length)
      .def_readonly("units", &Row::units)
      .def_readonly("units_text", &Row::units_text)
      .def_readonly("value", &Row::value)
      .def_readonly("value_text", &Row::value_text)
      .def_readonly("definition", &Row::definition)
      .def_readonly("motif", &Row::motif)
      .def_readonly("length", &Row::length)
      .def_readonly("period", &Row::period)
      .def_readonly("copies", &Row::copies)
      .def_readonly("consensus", &Row::consensus)
      .def_readonly("percent_matches", &Row::percent_matches)
      .def_readonly("percent_indels", &Row::percent_indels)
      .def_readonly("consensus_score", &Row::consensus_score)
      .def_readonly("A", &Row::a)
      .def_readonly("C", &Row::c)
      .def_readonly("G", &Row::g)
      .def_readonly("T", &Row::t)
      .def_readonly("entropy", &Row::entropy)
      .def_readonly("canonical_motif", &Row::canonical_motif)
      .def("__repr__", [](const Row& r) {
        return py::str("Repeat({}start={}, end={}, consensus='{}', units={}, {}={})")
            .format(r.seqid.empty() ? py::str("") : py::str("seqid={!r}, ").format(text_of(r.seqid)), r.start, r.end,
                    r.consensus, r.units_text, r.definition == 1 || r.definition == 2 ? "similarity" : "pattern_score",
                    r.value_text);
      });

  py::class_<Settings>(m, "Settings")
      .def(py::init([](int32_t definition, int32_t min_score, int32_t level, int32_t max_motif, int32_t match,
                       int32_t mismatch, int32_t gap, int32_t terminal_gap, bool one_per_locus, bool adjacent_copies,
                       double min_copies, int64_t min_length, int32_t min_identity, int64_t min_consensus_score,
                       bool keep_case, int32_t threads) {
             Settings s;
             s.options = {match, mismatch, gap, terminal_gap, max_motif, definition, level, min_score};
             if (std::string error = s.options.validate(); !error.empty()) throw py::value_error(error);
             s.reporting = {one_per_locus, adjacent_copies, min_copies, min_length, min_identity, min_consensus_score,
                            nullptr};
             s.keep_case = keep_case;
             s.threads = threads;
             return s;
           }),
           py::arg("definition"), py::arg("min_score"), py::arg("level"), py::arg("max_motif"), py::arg("match"),
           py::arg("mismatch"), py::arg("gap"), py::arg("terminal_gap"), py::arg("one_per_locus"),
           py::arg("adjacent_copies"), py::arg("min_copies"), py::arg("min_length"), py::arg("min_identity"),
           py::arg("min_consensus_score"), py::arg("keep_case"), py::arg("threads"));

  m.def("find", [](const py::bytes& sequence, const Settings& s) {
    RecordRows out = find_in(sequence, s);
    return py::make_tuple(std::move(out.rows), texts_of(out.not_examined));
  });

  py::class_<Scanner>(m, "Scanner")
      .def(py::init<const std::string&, const std::vector<std::string>&, const Settings&>())
      .def("next", &Scanner::next)
      .def_property_readonly("warning", &Scanner::warning);

  m.def("version", &rivulon::version);
  // (option, lo, hi, hi is x match) of every detection parameter, for the
  // package's checks of the values it is given.
  m.def("parameters", [] {
    std::vector<py::tuple> out;
    for (const rivulon::Parameter& p : rivulon::parameters()) out.push_back(py::make_tuple(p.option, p.lo, p.hi, p.hi_times_match));
    return out;
  });
}
