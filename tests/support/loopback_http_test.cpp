// The loopback server answers Wine's own urlmon, so tests that bind URLs
// through urlmon can rely on it.
#include "loopback_http.h"

#include <windows.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "zvtest.h"

namespace {

TEST(LoopbackHttpServer, ServesUrlmonAndRecordsTheRequest) {
  zv::test::LoopbackHttpServer server;
  zv::test::HttpResponse response;
  response.headers = {{"Content-Type", "application/zip"}};
  response.body = std::string("PK\x03\x04 body \x00\xFF", 12);
  server.Serve("/files/a.zip?x=1", response);

  zv::test::ScratchDir dir;
  const std::string file = dir.File("a.zip");
  ASSERT_EQ(URLDownloadToFileA(nullptr, server.Url("/files/a.zip?x=1").c_str(), file.c_str(), 0, nullptr), S_OK);
  std::ifstream in(file, std::ios::binary);
  std::ostringstream got;
  got << in.rdbuf();
  EXPECT_EQ(got.str(), response.body);

  const auto requests = server.Requests();
  ASSERT_GE(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/files/a.zip?x=1");
  EXPECT_TRUE(requests[0].Header("host"));
}

}  // namespace
