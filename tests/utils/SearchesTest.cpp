#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "services/Searches.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

using Offsets = std::vector<std::int32_t>;

// SearchFirst, then SearchNext up to and including the first -1.
Offsets Search(std::string_view buffer, std::string_view pattern, bool caseSensitive = true) {
  TBaseSearch search;
  search.SetCaseSensitive(caseSensitive);
  search.SetPattern(pattern);
  search.SetBuffer(buffer.data(), buffer.size());
  Offsets found{search.SearchFirst()};
  while (found.back() != -1 && found.size() <= buffer.size()) found.push_back(search.SearchNext());
  return found;
}

// Successive non-overlapping matches found by plain comparison.
Offsets NaiveMatches(std::string buffer, std::string pattern, bool caseSensitive) {
  for (std::string* s : {&buffer, &pattern}) {
    for (char& c : *s) {
      if (!caseSensitive && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  Offsets found;
  for (auto at = buffer.find(pattern); !pattern.empty() && at != std::string::npos;
       at = buffer.find(pattern, at + pattern.size())) {
    found.push_back(static_cast<std::int32_t>(at));
  }
  found.push_back(-1);
  return found;
}

TEST(TBaseSearch, FindsSuccessiveMatchesThatDoNotOverlap) {
  EXPECT_EQ(Search("abcabc", "abc"), (Offsets{0, 3, -1}));
  EXPECT_EQ(Search("aaaa", "aa"), (Offsets{0, 2, -1}));
  EXPECT_EQ(Search("aaaa", "a"), (Offsets{0, 1, 2, 3, -1}));
  EXPECT_EQ(Search("ab", "abc"), (Offsets{-1}));
  EXPECT_EQ(Search("abc", ""), (Offsets{-1}));
  // The last byte "b" occurs earlier in the pattern: after a mismatch on it the
  // search moves by 2, not by the whole length, and still finds offset 2.
  EXPECT_EQ(Search("ababcb", "abcb"), (Offsets{2, -1}));
  EXPECT_EQ(Search("xxabcxx", "ABC", false), (Offsets{2, -1}));
  EXPECT_EQ(Search("xxabcxx", "ABC", true), (Offsets{-1}));
  // Only A-Z fold: not Latin-1 letters, not "[" against "{" (also 0x20 apart).
  EXPECT_EQ(Search("x\xe4y", "\xc4", false), (Offsets{-1}));
  EXPECT_EQ(Search("{", "[", false), (Offsets{-1}));

  std::mt19937 random(20240601);
  const std::string alphabet("abAB\0c", 6);
  auto text = [&](std::size_t maxLength) {
    std::string s(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), ' ');
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (char& c : s) c = alphabet[pick(random)];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string buffer = text(60), pattern = text(5);
    const bool caseSensitive = round % 2 == 0;
    ASSERT_EQ(Search(buffer, pattern, caseSensitive), NaiveMatches(buffer, pattern, caseSensitive))
        << "buffer '" << buffer << "' pattern '" << pattern << "' case " << caseSensitive;
  }
}

TEST(TBaseSearch, ChangesBetweenSearchesStayInsideTheBuffer) {
  // On the heap and exactly sized, so that a sanitizer sees any byte outside it.
  const std::string text = "abcdefabcdef";
  const std::vector<char> buffer(text.begin(), text.end());
  TBaseSearch search;
  EXPECT_EQ(search.SearchNext(), -1);  // nothing attached yet
  search.SetPattern("def");
  search.SetBuffer(buffer.data(), buffer.size());
  EXPECT_EQ(search.SearchNext(), 3);  // without SearchFirst: from the beginning
  search.SetCaseSensitive(true);
  search.SetPattern("a");
  EXPECT_EQ(search.SearchFirst(), 0);
  search.SetPattern("abcdefab");  // longer than the distance searched so far
  EXPECT_EQ(search.SearchNext(), 0);
  EXPECT_EQ(search.SearchNext(), -1);
  search.SetPattern("ABC");  // the case mode set earlier still holds
  EXPECT_EQ(search.SearchFirst(), -1);
  search.SetCaseSensitive(false);
  EXPECT_EQ(search.SearchFirst(), 0);

  search.SetBuffer(nullptr, 5);
  EXPECT_EQ(search.SearchFirst(), -1);
  search.SetBuffer(buffer.data(), TBaseSearch::kMaxBufferLength + 1);  // refused, never read
  EXPECT_EQ(search.SearchFirst(), -1);
}

TEST(FindInFile, FindsExactBytesInAMappedFile) {
  test::TempTree tree;
  // A UTF-16 mark inside binary data, as scheduled-task files hold them.
  const std::string mark("B\0r\0o\0n\0", 8);
  std::string content(5000, '\x01');
  content.replace(4321, mark.size(), mark);
  const std::string job = tree.Write("task.job", content);
  EXPECT_EQ(FindInFile(mark, job), 4321);
  EXPECT_EQ(FindInFile(std::string("b\0r\0o\0n\0", 8), job), -1);  // exact case
  EXPECT_EQ(FindInFile("", job), -1);
  EXPECT_EQ(FindInFile(mark, tree.Write("empty.job", "")), -1);
  EXPECT_EQ(FindInFile(mark, tree.Path("missing.job")), -1);
  EXPECT_EQ(FindInFile(mark, tree.MakeDir("folder.job")), -1);
#ifndef _WIN32  // links are a POSIX kind of entry
  std::filesystem::create_symlink(job, tree.Path("link.job"));
  EXPECT_EQ(FindInFile(mark, tree.Path("link.job")), -1);
#endif

  TFileSearch search;
  search.SetPattern("needle");
  search.SetFilename(tree.Write("first", "..needle.."));
  EXPECT_EQ(search.SearchFirst(), 2);
  const std::string second = tree.Write("second", "needle");
  search.SetFilename(second);
  EXPECT_EQ(search.Filename(), second);
  EXPECT_EQ(search.SearchFirst(), 0);
  search.SetFilename(tree.Path("missing"));
  EXPECT_EQ(search.Filename(), "");
  EXPECT_EQ(search.SearchFirst(), -1);
}

}  // namespace
}  // namespace korbu
