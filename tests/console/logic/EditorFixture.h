#pragma once
// A fresh embedded database from the shipped schema, opened in the database
// manager, and a prompt that records what the operator is told.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console/logic/Prompt.h"
#include "core/ADODataBase.h"
#include "core/DatabaseManager.h"
#include "tests/tools/TestUtil.h"

namespace vvtest {

class RecordingPrompt : public IPrompt {
 public:
  std::vector<std::string> messages;
  void Message(const std::string& text) override { messages.push_back(text); }
  bool Ask(const std::string& text) override {
    messages.push_back(text);
    return true;
  }
  std::string Last() const { return messages.empty() ? "" : messages.back(); }
};

class EditorTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<TempDir>("vvedit");
    file_ = dir_->file("velvanet.db");
    CommandResult r = vvtest::Run("sqlite3 " + ShellQuote(file_) + " < " +
                              ShellQuote(std::string(VV_SOURCE_DIR) + "/resources/schema_sqlite.sql"),
                          true);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(db_.OpenAccess(file_));
    CDatabaseManager::Instance().SetDatabase(&db_);
  }
  void TearDown() override {
    // The manager's live-item maps outlive the database: forget its ids.
    for (const char* table : {"DeviceSource_info", "NetSource_info", "FileSource_info", "SubStream_info",
                              "forward_task", "record_task"}) {
      CADORecordset rs(&db_);
      if (!rs.Open(std::string("select id from ") + table, CADORecordset::openQuery)) continue;
      for (rs.MoveFirst(); !rs.IsEof(); rs.MoveNext()) {
        int id = 0;
        rs.GetFieldValueInt("id", id);
        CDatabaseManager::Instance().RemoveLiveItem(id);
      }
      rs.Close();
    }
    CDatabaseManager::Instance().SetDatabase(nullptr);
    // The manager's schedule thread may still be inside a statement on this
    // connection: it stays open for the rest of the process.
  }
  // SQL straight into the database (setting up rows, breaking tables).
  void Sql(const std::string& statement) { ASSERT_TRUE(db_.Execute(statement)) << statement; }

  CADODataBase& db_ = *KeptDatabase();
  std::unique_ptr<TempDir> dir_;

 private:
  // One connection per test, never freed: engine threads outlive the test.
  static CADODataBase* KeptDatabase() {
    static auto* kept = new std::vector<CADODataBase*>;  // never destroyed either
    kept->push_back(new CADODataBase);
    return kept->back();
  }
  std::string file_;
};

}  // namespace vvtest
