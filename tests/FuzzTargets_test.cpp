// Replays the fuzz regression corpus: the seed inputs and every input that
// once broke the product, each through the target function its fuzz program
// calls, so that no finding can come back unnoticed.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzTargets.h"
#include "TestSupport.h"

namespace callset_converter::fuzzing {
namespace {

namespace fs = std::filesystem;

fs::path corpus_root() { return fs::path(CALLSET_SOURCE_DIR) / "tests" / "fuzz-corpus"; }

class FuzzCorpusReplay : public ::testing::TestWithParam<FuzzTarget> {
 protected:
  static void SetUpTestSuite() { prepare_fuzzing(); }
};

TEST_P(FuzzCorpusReplay, EveryInputIsAcceptedOrRefusedWithADocumentedError) {
  const fs::path folder = corpus_root() / GetParam().name;
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  ASSERT_FALSE(inputs.empty()) << "no seed inputs in " << folder;
  for (const auto& input : inputs) {
    const std::string bytes = testing::read_file(input.string());
    try {
      GetParam().run(bytes);
    } catch (const std::exception& error) {
      ADD_FAILURE() << input.filename() << ": " << error.what();
    } catch (...) {
      ADD_FAILURE() << input.filename() << ": an exception that is not a std::exception";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzCorpusReplay, ::testing::ValuesIn(fuzz_targets()),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) { return std::string(info.param.name); });

TEST(FuzzCorpus, EveryFolderBelongsToATarget) {
  for (const auto& entry : fs::directory_iterator(corpus_root())) {
    EXPECT_NE(find_fuzz_target(entry.path().filename().string()), nullptr) << entry.path();
  }
}

}  // namespace
}  // namespace callset_converter::fuzzing
