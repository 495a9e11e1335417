// Shared helpers: RIPEMD-160, MT19937, the allocation registry, interning.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/alloc.h"
#include "app/random.h"
#include "app/ripemd160.h"

namespace {

std::string hex(const uint8_t *d, int n) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

std::string rmd(const std::string &text) {
  uint8_t d[20];
  ripemd160(text.data(), text.size(), d);
  return hex(d, 20);
}

}  // namespace

TEST(Ripemd160, PublishedVectors) {
  EXPECT_EQ(rmd(""), "9c1185a5c5e9fc54612808977ee8f548b2258d31");
  EXPECT_EQ(rmd("a"), "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe");
  EXPECT_EQ(rmd("abc"), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
  EXPECT_EQ(rmd("message digest"), "5d0689ef49d2fae572b881b123a85ffa21595f36");
  EXPECT_EQ(rmd("abcdefghijklmnopqrstuvwxyz"), "f71c27109c692c1b56bbdceb5b9d2865b3708dbc");
  EXPECT_EQ(rmd("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "12a053384a9c0c88e405a06c27dcf49ada62eb2b");
  EXPECT_EQ(rmd("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "b0e20b6e3116640286ed3a87a5713079b21f5189");
  std::string digits;
  for (int i = 0; i < 8; i++) digits += "1234567890";
  EXPECT_EQ(rmd(digits), "9b752e45573d4b39f4dbd3323cab82bf63326bfb");
  EXPECT_EQ(rmd(std::string(1000000, 'a')), "52783243c1697bdbe16d37f97f68f08325dc1528");
}

TEST(Ripemd160, IncrementalEqualsWhole) {
  std::string text = "The quick brown fox jumps over the lazy dog, again and again and again.";
  for (size_t split = 0; split <= text.size(); split += 7) {
    Ripemd160 r;
    ripemd160_init(&r);
    ripemd160_update(&r, text.data(), split);
    ripemd160_update(&r, text.data() + split, text.size() - split);
    uint8_t d[20];
    ripemd160_final(&r, d);
    EXPECT_EQ(hex(d, 20), rmd(text));
  }
}

TEST(Mt19937, ReferenceOutput) {
  // The reference implementation seeded with 5489: first outputs and the 10000th.
  Mt19937 mt;
  mt_seed(&mt, 5489u);
  EXPECT_EQ(mt_next(&mt), 3499211612u);
  EXPECT_EQ(mt_next(&mt), 581869302u);
  EXPECT_EQ(mt_next(&mt), 3890346734u);
  EXPECT_EQ(mt_next(&mt), 3586334585u);
  for (int i = 4; i < 9999; i++) mt_next(&mt);
  EXPECT_EQ(mt_next(&mt), 4123659995u);
}

TEST(Mt19937, SharedGeneratorReseedRepeats) {
  random_seed(1234);
  uint32_t a = random_u32(), b = random_u32();
  random_seed(1234);
  EXPECT_EQ(random_u32(), a);
  EXPECT_EQ(random_u32(), b);
  for (int i = 0; i < 1000; i++) {
    float f = random_float();
    ASSERT_GE(f, 0.0f);
    ASSERT_LT(f, 1.0f);
  }
}

TEST(AllocRegistry, RecordsForgetsAndReportsUnknownBlocks) {
  setenv("QX_CHECK_ALLOC", "1", 1);
  alloc_registry_reset_for_tests();
  void *a = tracked_malloc(10);
  void *b = tracked_calloc(4, 4);
  EXPECT_EQ(live_allocation_count(), 2);
  b = tracked_realloc(b, 100);
  EXPECT_EQ(live_allocation_count(), 2);
  tracked_free(a);
  EXPECT_EQ(live_allocation_count(), 1);
  testing::internal::CaptureStderr();
  void *untracked = malloc(8);
  tracked_free(untracked);  // still freed, but reported
  report_live_allocations();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Allocation not found for"), std::string::npos);
  char line[64];
  // The realloc removed the old entry and appended the new block as the third allocation made.
  snprintf(line, sizeof line, "%p:2\n", b);
  EXPECT_NE(err.find(line), std::string::npos) << err;
  tracked_free(b);
  tracked_free(nullptr);
  EXPECT_EQ(live_allocation_count(), 0);
  unsetenv("QX_CHECK_ALLOC");
  alloc_registry_reset_for_tests();
  void *c = tracked_malloc(4);
  EXPECT_EQ(live_allocation_count(), 0);  // checking off
  tracked_free(c);
}

TEST(InternString, EqualTextsShareOnePointer) {
  char a[] = "rabbithill";
  char b[] = "rabbithill";
  const char *x = intern_string(a);
  EXPECT_EQ(x, intern_string(b));
  EXPECT_NE(x, a);
  EXPECT_NE(x, intern_string("other"));
  for (int i = 0; i < 100; i++) intern_string(std::to_string(i).c_str());  // forces growth
  EXPECT_EQ(x, intern_string("rabbithill"));
  EXPECT_STREQ(x, "rabbithill");
}
