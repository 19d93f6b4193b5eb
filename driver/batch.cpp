#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "driver/output_name.h"
#include "io/load_file.h"
#include "platform/platform.h"
#include "raster/bmp_image.h"
#include "raster/png_import.h"

namespace {

bool IsPatternOperand(const std::wstring& operand) {
  return HasWildcard(operand) && !platform::PathExists(operand);
}

bool EndsInSeparator(const std::wstring& path) {
  return !path.empty() && platform::IsSeparator(path.back());
}

std::wstring LastComponent(const std::wstring& path) {
  std::size_t start = path.size();
  while (start > 0 && !platform::IsSeparator(path[start - 1])) --start;
  return path.substr(start);
}

// `second` is an input of the same direction as `first`.
bool SameDirection(const std::wstring& first, const std::wstring& second) {
  if (!platform::IsRegularFile(second)) return false;
  if (HasOvkExtension(first) || HasOvkExtension(second)) {
    return HasOvkExtension(first) && HasOvkExtension(second);
  }
  std::uint8_t start[8] = {};
  const std::span<const std::uint8_t> bytes(start, LoadFileStart(second, start));
  return HasBmpSignature(bytes) || HasPngSignature(bytes);
}

// "folder/" as a destination that is always taken for a folder.
std::wstring AsFolder(std::wstring path) {
  if (!EndsInSeparator(path)) platform::AddTrailingSeparator(path);
  return path;
}

// One input of the batch, ready to convert.
struct Job {
  BatchInput input;
  std::wstring destPath;
  PaletteMapping mapping;
  OutputClaim claim = OutputClaim::kFree;
  // The folders below the destination folder that its output needs, outer
  // first; made just before it is converted.
  std::vector<std::wstring> folders;
};

// What makes two outputs one file, from the names: the file itself when it
// exists; else its folder (when that exists) and its name; else the name.
struct OutputKey {
  enum class Kind { kFile, kInFolder, kName } kind = Kind::kName;
  platform::FileId id;
  std::wstring name;
  auto operator<=>(const OutputKey&) const = default;
};

OutputKey KeyOf(const std::wstring& output) {
  platform::FileId id;
  if (platform::IdentifyFile(output, &id)) return {OutputKey::Kind::kFile, id, L""};
  const std::wstring last = LastComponent(output);
  const std::wstring folder = output.substr(0, output.size() - last.size());
  if (platform::IdentifyFile(folder.empty() ? L"." : folder, &id)) {
    return {OutputKey::Kind::kInFolder, id, last};
  }
  return {OutputKey::Kind::kName, {}, output};
}

std::vector<Job> PlanJobs(const OperandForm& form, const Options& options) {
  std::vector<Job> jobs;
  const bool folderExists = !form.folder.empty() && platform::IsDirectory(form.folder);
  const std::wstring folder = form.folder.empty() ? L"" : AsFolder(form.folder);
  std::set<platform::FileId> inputs;
  std::set<OutputKey> outputs;
  const std::vector<BatchInput> expanded = ExpandInputs(form.inputs, platform::ListDirectory);
  for (const BatchInput& input : expanded) {
    platform::FileId id;
    if (!input.unmatched && platform::IdentifyFile(input.name, &id)) inputs.insert(id);
  }
  for (const BatchInput& input : expanded) {
    Job job;
    job.input = input;
    job.mapping = ReferenceFor(options.mapping, input.below);
    if (input.unmatched) {
      jobs.push_back(std::move(job));
      continue;
    }
    job.destPath = folder;
    // A pattern's match keeps its folders below the base.
    const std::wstring sub =
        input.below.substr(0, input.below.size() - LastComponent(input.below).size());
    if (!folder.empty() && !sub.empty()) {
      job.destPath = folder + sub;
      if (folderExists) {
        for (std::size_t i = 0; i < sub.size(); ++i) {
          if (platform::IsSeparator(sub[i])) job.folders.push_back(folder + sub.substr(0, i));
        }
      }
    }
    const wchar_t* extension = ChooseRoute(input.name) == Route::kToOvk ? L".ovk"
                               : options.output != OutputForm::kBmp     ? L".png"
                                                                        : L".bmp";
    std::wstring outputName;
    if (DeriveOutputName(input.name, job.destPath, extension, &outputName)) {
      platform::FileId id;
      if (platform::IdentifyFile(outputName, &id) && inputs.count(id) != 0) {
        job.claim = OutputClaim::kIsAnInput;
      } else if (!outputs.insert(KeyOf(outputName)).second) {
        job.claim = OutputClaim::kTakenEarlier;
      }
    }
    jobs.push_back(std::move(job));
  }
  return jobs;
}

int RunJob(const Job& job, const Options& options, const Converters& converters) {
  if (job.input.unmatched) {
    platform::Print(kNotFoundMessage, job.input.name.c_str());
    return kExitFailure;
  }
  // A folder that cannot be made shows as an output that cannot be opened.
  for (const std::wstring& folder : job.folders) platform::MakeDirectory(folder);
  return ConvertInput(job.input.name, job.destPath, options, job.mapping, job.claim, converters);
}

struct Outcome {
  platform::CapturedOutput output;
  bool converted = false;
  bool done = false;
};

// The inputs on the workers' side and the printing on the calling thread's:
// each input's messages are kept back until every earlier input's are out.
class BatchRun {
 public:
  BatchRun(const std::vector<Job>& jobs, const Options& options, const Converters& converters)
      : jobs_(jobs), options_(options), converters_(converters), outcomes_(jobs.size()) {}

  // Returns how many inputs were attempted: all of them, unless an
  // interrupt stopped the batch.
  std::size_t Run(int workers) {
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) {
      try {
        threads.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // as many at once as the system lets start
      }
    }
    if (threads.empty()) Work();
    PrintInOrder(threads.size());
    for (std::thread& t : threads) t.join();
    return std::min(next_.load(), jobs_.size());
  }

  const std::vector<Outcome>& outcomes() const { return outcomes_; }

 private:
  void Work() {
    for (;;) {
      if (platform::StopRequested()) break;
      const std::size_t k = next_.fetch_add(1);
      if (k >= jobs_.size()) break;
      Outcome outcome;
      platform::CaptureOutput(&outcome.output);
      outcome.converted = RunJob(jobs_[k], options_, converters_) == kExitSuccess;
      platform::CaptureOutput(nullptr);
      outcome.done = true;
      std::lock_guard<std::mutex> lock(mutex_);
      outcomes_[k] = std::move(outcome);
      ++finished_;
      changed_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++idle_;
    changed_.notify_all();
  }

  void PrintInOrder(std::size_t workers) {
    const bool progress = jobs_.size() >= 2 && platform::StandardErrorIsTerminal();
    std::size_t printed = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (progress && printed < jobs_.size()) ShowProgress(printed);
      changed_.wait(lock, [&] {
        return (printed < jobs_.size() && outcomes_[printed].done) || idle_ == workers;
      });
      if (printed == jobs_.size() || !outcomes_[printed].done) break;
      // Printed without the lock: the workers go on meanwhile.
      platform::CapturedOutput output = std::move(outcomes_[printed].output);
      ++printed;
      lock.unlock();
      if (progress) platform::ShowProgress(L"");
      platform::WriteCaptured(output);
      lock.lock();
    }
    if (progress) platform::ShowProgress(L"");
  }

  // "[done/all] name" of the oldest input in progress; a long name shows its
  // end, so that the line fits a terminal's width and stays one line.
  void ShowProgress(std::size_t oldest) const {
    constexpr std::size_t kNameWidth = 56;
    const std::wstring& name = jobs_[oldest].input.name;
    platform::ShowProgress(
        L"[" + std::to_wstring(finished_) + L"/" + std::to_wstring(jobs_.size()) + L"] " +
        (name.size() <= kNameWidth ? name : L"..." + name.substr(name.size() - kNameWidth + 3)));
  }

  const std::vector<Job>& jobs_;
  const Options& options_;
  const Converters& converters_;
  std::vector<Outcome> outcomes_;
  std::atomic<std::size_t> next_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t finished_ = 0;
  std::size_t idle_ = 0;
};

}  // namespace

OperandForm FormOfOperands(std::span<const std::wstring> operands) {
  OperandForm form;
  const bool pattern = std::any_of(operands.begin(), operands.end(), IsPatternOperand);
  if (operands.empty() || (operands.size() == 1 && !pattern)) return form;
  if (operands.size() == 2 && !pattern &&
      (!SameDirection(operands[0], operands[1]) || platform::SameFile(operands[0], operands[1]))) {
    return form;
  }
  form.batch = true;
  form.inputs.assign(operands.begin(), operands.end());
  const std::wstring& last = operands.back();
  if (operands.size() >= 2 && (platform::IsDirectory(last) || EndsInSeparator(last))) {
    form.folder = last;
    form.inputs.pop_back();
  }
  return form;
}

std::vector<BatchInput> ExpandInputs(std::span<const std::wstring> operands,
                                     const DirectoryLister& list) {
  std::vector<BatchInput> inputs;
  for (const std::wstring& operand : operands) {
    if (!IsPatternOperand(operand)) {
      inputs.push_back({operand, LastComponent(operand)});
      continue;
    }
    const std::vector<PatternMatch> matches = ExpandPattern(operand, list);
    if (matches.empty()) inputs.push_back({operand, LastComponent(operand), true});
    for (const PatternMatch& match : matches) inputs.push_back({match.path, match.below});
  }
  return inputs;
}

PaletteMapping ReferenceFor(const PaletteMapping& mapping, const std::wstring& below) {
  const std::wstring& folder = mapping.reference;
  if (folder.empty() || (!EndsInSeparator(folder) && !platform::IsDirectory(folder))) {
    return mapping;
  }
  PaletteMapping resolved = mapping;
  // The relative name's extension becomes ".ovk" (as an output's would).
  if (!DeriveOutputName(AsFolder(folder) + below, L"", L".ovk", &resolved.reference)) {
    resolved.reference = AsFolder(folder) + below;  // refused as too long when it is read
  }
  return resolved;
}

int RunBatch(const OperandForm& form, const Options& options, const Converters& converters) {
  const std::vector<Job> jobs = PlanJobs(form, options);
  const int workers = static_cast<int>(std::min<std::size_t>(
      jobs.size(),
      static_cast<std::size_t>(options.jobs > 0 ? options.jobs : platform::ProcessorCount())));
  platform::BeginStoppableWork();
  BatchRun run(jobs, options, converters);
  const std::size_t attempted = run.Run(std::max(workers, 1));
  if (platform::StopRequested()) platform::Print(kBatchInterrupted);
  std::size_t converted = 0;
  for (std::size_t k = 0; k < attempted; ++k) converted += run.outcomes()[k].converted;
  platform::Print(kBatchSummary, static_cast<int>(attempted), static_cast<int>(converted),
                  static_cast<int>(attempted - converted));
  for (std::size_t k = 0; k < attempted; ++k) {
    if (!run.outcomes()[k].converted) platform::Print(kBatchFailed, jobs[k].input.name.c_str());
  }
  platform::EndStoppableWork();
  return converted == jobs.size() ? kExitSuccess : kExitFailure;
}
