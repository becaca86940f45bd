// Output names against project file names. The project series can hold two billion
// numbers, so the names are compared as text: decimal(n) + extension against
// decimal(m) + PJFileExt, solved for n and m instead of tried one by one.
#include "project/output_names.h"

#include <filesystem>
#include <optional>
#include <utility>

#include "base/config.h"
#include "base/fatal.h"
#include "base/output_files.h"

namespace {

struct NumberRange {
  int64_t first;
  int64_t last;
};

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// decimal(m) followed by the digits of tail, read as a number: m * 10^k +- tail.
int64_t appendDigits(int64_t m, int64_t scale, int64_t tail) { return m * scale + (m < 0 ? -tail : tail); }

// Some m in source (m != 0) with decimal(m) + digits == decimal(n) for an n in target.
// appendDigits is increasing in m on each side of 0, so a binary search finds the least m
// whose n reaches the target and one comparison decides.
std::optional<std::pair<int64_t, int64_t>> findAppended(NumberRange source, const std::string& digits,
                                                        NumberRange target) {
  // A tail of ten digits or more makes every n too large for a project number.
  if (digits.size() >= 10) return std::nullopt;
  int64_t scale = 1;
  for (size_t i = 0; i < digits.size(); ++i) scale *= 10;
  const int64_t tail = std::stoll(digits);
  for (NumberRange side : {NumberRange{std::max<int64_t>(source.first, 1), source.last},
                           NumberRange{source.first, std::min<int64_t>(source.last, -1)}}) {
    int64_t lo = side.first;
    int64_t hi = side.last;
    if (lo > hi) continue;
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      if (appendDigits(mid, scale, tail) >= target.first)
        hi = mid;
      else
        lo = mid + 1;
    }
    const int64_t n = appendDigits(lo, scale, tail);
    if (n >= target.first && n <= target.last) return std::make_pair(lo, n);
  }
  return std::nullopt;
}

// A number n in outputs and m in inputs with decimal(n) + outputExt == decimal(m) + inputExt.
std::optional<std::pair<int64_t, int64_t>> findClash(NumberRange outputs, const std::string& outputExt,
                                                     NumberRange inputs, const std::string& inputExt) {
  if (outputExt == inputExt) {
    const int64_t n = std::max(outputs.first, inputs.first);
    if (n <= std::min(outputs.last, inputs.last)) return std::make_pair(n, n);
    return std::nullopt;
  }
  if (endsWith(inputExt, outputExt)) {
    const std::string digits = inputExt.substr(0, inputExt.size() - outputExt.size());
    if (!allDigits(digits)) return std::nullopt;
    const auto pair = findAppended(inputs, digits, outputs);
    if (pair) return std::make_pair(pair->second, pair->first);
    return std::nullopt;
  }
  if (endsWith(outputExt, inputExt)) {
    const std::string digits = outputExt.substr(0, outputExt.size() - inputExt.size());
    if (!allDigits(digits)) return std::nullopt;
    return findAppended(outputs, digits, inputs);
  }
  return std::nullopt;
}

// PJFileName split into the directory its files are in ("" for the working directory, else
// ending in '/') and the stem of their names.
std::pair<std::string, std::string> splitStemPath() {
  const std::string& stemPath = settingsInForce().PJFileName;
  const size_t slash = stemPath.find_last_of('/');
  if (slash == std::string::npos) return {"", stemPath};
  return {stemPath.substr(0, slash + 1), stemPath.substr(slash + 1)};
}

// The number n in range with name == stem + decimal(n) + ext.
std::optional<int64_t> numberNamed(const std::string& name, const std::string& stem, const std::string& ext,
                                   NumberRange range) {
  if (name.size() <= stem.size() + ext.size() || name.compare(0, stem.size(), stem) != 0 || !endsWith(name, ext))
    return std::nullopt;
  const std::string middle = name.substr(stem.size(), name.size() - stem.size() - ext.size());
  const bool negative = middle[0] == '-';
  const std::string digits = negative ? middle.substr(1) : middle;
  const bool canonical = digits.size() == 1 || digits[0] != '0';
  if (!allDigits(digits) || digits.size() > 10 || !canonical || (negative && digits == "0")) return std::nullopt;
  const int64_t m = negative ? -std::stoll(digits) : std::stoll(digits);
  if (m < range.first || m > range.last) return std::nullopt;
  return m;
}

// The project number m whose file, read from the working directory, is named name.
std::optional<int64_t> projectNumberNamed(const std::string& name, NumberRange inputs) {
  const auto [directory, stem] = splitStemPath();
  std::error_code error;
  if (!std::filesystem::equivalent(directory.empty() ? "." : directory, ".", error) || error) return std::nullopt;
  return numberNamed(name, stem, settingsInForce().PJFileExt, inputs);
}

// The numbered outputs are too many to look up one by one: the directory they go to is
// listed once, and each entry that is no regular file is matched against their names.
void refuseUnwritableNumberedOutputs(const std::vector<NumberedOutputs>& numbered) {
  const auto [directory, stem] = splitStemPath();
  std::error_code error;
  std::filesystem::directory_iterator entries(directory.empty() ? "." : directory, error);
  if (error) return;
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, stem.size(), stem) != 0 || unwritableOutputKind(directory + name).empty()) continue;
    for (const NumberedOutputs& outputs : numbered)
      for (const std::string& ext : outputs.extensions)
        if (numberNamed(name, stem, ext, {outputs.first, outputs.last})) refuseUnwritableOutputName(directory + name);
  }
}

[[noreturn]] void stopClash(const std::string& output, const std::string& project) {
  stopFatal("The output file " + output + " of this run would replace the project file " + project +
            " that it reads. Change PJFileName or PJFileExt in CONFIG.DAT (or the write level); nothing has been "
            "written.");
}

}  // namespace

void checkOutputNames(const std::vector<NumberedOutputs>& numbered, const std::vector<std::string>& fixedNames) {
  const RunConfig& config = settingsInForce();
  const NumberRange inputs{config.gv_CFG_fnr, config.gv_CFG_lnr};
  auto projectName = [&](int64_t m) { return config.PJFileName + std::to_string(m) + config.PJFileExt; };
  if (inputs.first <= inputs.last) {
    for (const NumberedOutputs& outputs : numbered) {
      if (outputs.first > outputs.last) continue;
      for (const std::string& ext : outputs.extensions) {
        const auto clash = findClash({outputs.first, outputs.last}, ext, inputs, config.PJFileExt);
        if (clash) stopClash(config.PJFileName + std::to_string(clash->first) + ext, projectName(clash->second));
      }
    }
    for (const std::string& name : fixedNames) {
      const auto m = projectNumberNamed(name, inputs);
      if (m) stopClash(name, projectName(*m));
    }
  }
  for (const std::string& name : fixedNames) refuseUnwritableOutputName(name);
  refuseUnwritableNumberedOutputs(numbered);
}
