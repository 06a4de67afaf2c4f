// Control semantics of the page models, without any backend.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/Backend.h"
#include "ui/Controls.h"

namespace ui = korvel::ui;

namespace {

// A small page in the style the wizard uses: controls as members, handlers counting their calls.
class TSampleFrm : public ui::TForm {
 public:
  TSampleFrm() : TForm("TSampleFrm") {
    EnDebugChk.OnClick = [this] { log.push_back("EnDebugChkClick"); };
    ParityEd.SetItems({"none", "odd", "even"});
    ParityEd.OnClick = [this] { log.push_back("ParityEdClick " + std::to_string(ParityEd.ItemIndex())); };
    NewOp.OnClick = [this] { log.push_back("NewOpClick"); };
    ModifyOp.OnClick = [this] { log.push_back("ModifyOpClick"); };
    OtherOp.OnClick = [this] { log.push_back("OtherOpClick"); };
    IDEd.OnChange = [this] { log.push_back("IDEdChange " + IDEd.Text()); };
    IDEd.OnExit = [this] { log.push_back("IDEdExit"); };
    IDEd.OnKeyPress = [](char& key) {
      if (!((key >= '0' && key <= '9') || key == '\b')) key = 0;
    };
    ComEd.SetItems({"COM1", "COM2", "COM3"});
    ComEd.OnChange = [this] { log.push_back("ComEdChange " + ComEd.Text()); };
    NextBtn.OnClick = [this] { log.push_back("NextBtnClick"); };
  }
  ui::TCheckBox& EnDebugChk = Add<ui::TCheckBox>("EnDebugChk");
  ui::TRadioGroup& ParityEd = Add<ui::TRadioGroup>("ParityEd");
  ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
  ui::TRadioButton& NewOp = Add<ui::TRadioButton>("NewOp", &GroupBox1);
  ui::TRadioButton& ModifyOp = Add<ui::TRadioButton>("ModifyOp", &GroupBox1);
  ui::TRadioButton& OtherOp = Add<ui::TRadioButton>("OtherOp");  // another parent: another group
  ui::TEdit& IDEd = Add<ui::TEdit>("IDEd");
  ui::TComboBox& ComEd = Add<ui::TComboBox>("ComEd");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  std::vector<std::string> log;
};

using Log = std::vector<std::string>;

}  // namespace

TEST(Controls, CodeSetCheckedAndItemIndexFireTheClickHandlerOncePerChange) {
  TSampleFrm f;
  f.EnDebugChk.SetChecked(true);
  f.EnDebugChk.SetChecked(true);  // no change, no handler
  f.EnDebugChk.SetChecked(false);
  f.ParityEd.SetItemIndex(2);
  f.ParityEd.SetItemIndex(2);
  f.ParityEd.SetItemIndex(7);  // out of range selects nothing, which is a change
  EXPECT_EQ(f.log, (Log{"EnDebugChkClick", "EnDebugChkClick", "ParityEdClick 2", "ParityEdClick -1"}));

  // The user's click takes the same path as code.
  f.log.clear();
  f.EnDebugChk.UserClick();
  f.ParityEd.UserSelect(1);
  f.ParityEd.UserSelect(1);
  EXPECT_TRUE(f.EnDebugChk.Checked());
  EXPECT_EQ(f.log, (Log{"EnDebugChkClick", "ParityEdClick 1"}));
}

TEST(Controls, RadioButtonsGroupByParentAndFireOnlyWhenBecomingChecked) {
  TSampleFrm f;
  f.NewOp.SetChecked(true);
  f.OtherOp.SetChecked(true);  // other parent: NewOp stays checked
  EXPECT_TRUE(f.NewOp.Checked());
  f.ModifyOp.UserClick();
  EXPECT_FALSE(f.NewOp.Checked());
  EXPECT_TRUE(f.ModifyOp.Checked());
  EXPECT_TRUE(f.OtherOp.Checked());
  f.ModifyOp.UserClick();  // already checked: no click
  EXPECT_EQ(f.log, (Log{"NewOpClick", "OtherOpClick", "ModifyOpClick"}));
}

TEST(Controls, EditCodeTextFiresChangeAndUserKeysGoThroughKeyPress) {
  TSampleFrm f;
  f.IDEd.SetText("5");
  EXPECT_FALSE(f.IDEd.Modified());
  f.IDEd.SetText("5");  // same text, no change event
  f.IDEd.UserType("1a\b2");
  EXPECT_EQ(f.IDEd.Text(), "52");  // "51", 'a' swallowed, backspace back to "5", then "52"
  EXPECT_TRUE(f.IDEd.Modified());
  EXPECT_EQ(f.log, (Log{"IDEdChange 5", "IDEdChange 51", "IDEdChange 5", "IDEdChange 52"}));
}

TEST(Controls, EditMaxLengthCutsCodeAndUserText) {
  TSampleFrm f;
  f.IDEd.SetMaxLength(3);
  f.IDEd.SetText("123456");
  EXPECT_EQ(f.IDEd.Text(), "123");
  f.IDEd.SetText("");
  f.IDEd.UserType("98765");
  EXPECT_EQ(f.IDEd.Text(), "987");
}

TEST(Controls, BackspaceRemovesAWholeGbkCharacter) {
  TSampleFrm f;
  f.IDEd.OnKeyPress = nullptr;
  f.IDEd.SetText("A\xD6\xD0");  // "A中"
  f.IDEd.UserType("\b");
  EXPECT_EQ(f.IDEd.Text(), "A");
}

TEST(Controls, FocusMoveFiresExitBeforeTheButtonClick) {
  TSampleFrm f;
  f.IDEd.UserType("7");
  f.NextBtn.UserClick();
  EXPECT_EQ(f.log, (Log{"IDEdChange 7", "IDEdExit", "NextBtnClick"}));
  EXPECT_EQ(f.ActiveControl(), &f.NextBtn);
}

TEST(Controls, ComboCodeSelectionIsSilentUserSelectionAndTypingFireChange) {
  TSampleFrm f;
  f.ComEd.SetItemIndex(1);
  EXPECT_EQ(f.ComEd.Text(), "COM2");
  f.ComEd.SetText("COM3");
  EXPECT_EQ(f.ComEd.ItemIndex(), 2);
  EXPECT_TRUE(f.log.empty());

  f.ComEd.UserType("COM20");
  EXPECT_EQ(f.ComEd.ItemIndex(), -1);
  EXPECT_EQ(f.ComEd.Text(), "COM20");
  f.ComEd.UserSelect(0);
  f.ComEd.UserSelect(0);
  EXPECT_EQ(f.log, (Log{"ComEdChange COM20", "ComEdChange COM1"}));

  // A fixed list takes no typed text; its text follows the selection.
  f.ComEd.SetStyle(ui::TComboBox::Style::DropDownList);
  f.ComEd.UserType("COM9");
  EXPECT_EQ(f.ComEd.Text(), "COM1");
  f.ComEd.SetText("nothing");
  EXPECT_EQ(f.ComEd.ItemIndex(), -1);
  EXPECT_EQ(f.ComEd.Text(), "");
}

TEST(Controls, TreeInsertSelectDeleteKeepsOrderAndSelection) {
  ui::TForm f("TTreeFrm");
  auto& tree = f.Add<ui::TTreeView>("DeviceTree");
  int changes = 0;
  tree.OnChange = [&] { ++changes; };
  ui::TTreeNode* n3 = tree.AddChild(nullptr, "3");
  ui::TTreeNode* n1 = tree.Insert(n3, "1");
  ui::TTreeNode* n2 = tree.Insert(n3, "2");
  ui::TTreeNode* child = tree.AddChild(n2, "2.1");
  ASSERT_EQ(tree.TopCount(), 3);
  EXPECT_EQ(tree.TopItem(0), n1);
  EXPECT_EQ(tree.TopItem(1), n2);
  EXPECT_EQ(tree.TopItem(2), n3);
  EXPECT_EQ(n3->Index(), 2);
  EXPECT_EQ(tree.Count(), 4);
  EXPECT_EQ(child->Parent(), n2);

  tree.FullExpand();
  EXPECT_TRUE(n2->Expanded());
  ASSERT_TRUE(tree.UserClickPath({"2", "2.1"}));
  EXPECT_EQ(tree.Selected(), child);
  EXPECT_EQ(changes, 1);

  // Deleting the branch that holds the selection clears it (and says so).
  tree.Delete(n2);
  EXPECT_EQ(tree.Selected(), nullptr);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(tree.TopCount(), 2);
  EXPECT_EQ(n3->Index(), 1);

  // Stale pointers from a page are ignored, never followed.
  EXPECT_FALSE(tree.Contains(child));
  tree.SetSelected(child);
  EXPECT_EQ(tree.Selected(), nullptr);
  tree.Delete(child);
  EXPECT_EQ(tree.AddChild(child, "x"), nullptr);
  EXPECT_EQ(tree.Count(), 2);
  EXPECT_FALSE(tree.UserClickPath({"9"}));
}

TEST(Controls, GridCellsResizeAndIgnoreOutsideWrites) {
  ui::TForm f("TGridFrm");
  auto& grid = f.Add<ui::TStringGrid>("StringGrid1");
  grid.SetColCount(4);
  grid.SetRowCount(100);
  grid.SetFixedCols(0);
  grid.SetCell(0, 0, "addr");
  grid.SetCell(3, 99, "last");
  grid.SetCell(4, 0, "outside");
  grid.SetCell(0, 100, "outside");
  grid.SetCell(-1, 0, "outside");
  EXPECT_EQ(grid.Cell(0, 0), "addr");
  EXPECT_EQ(grid.Cell(3, 99), "last");
  EXPECT_EQ(grid.Cell(4, 0), "");
  EXPECT_EQ(grid.Cell(0, -5), "");

  grid.SetCell(1, 5, "v");
  grid.SetCell(2, 5, "w");
  grid.ClearRow(5);
  EXPECT_EQ(grid.Cell(1, 5), "");

  grid.SetColCount(2);  // shrinking keeps the cells that still fit
  EXPECT_EQ(grid.Cell(0, 0), "addr");
  EXPECT_EQ(grid.Cell(3, 99), "");
  grid.SetColCount(4);
  EXPECT_EQ(grid.Cell(3, 99), "");

  // The user edits data cells only, and only when editing is allowed.
  grid.UserSetCell(1, 1, "typed");
  EXPECT_EQ(grid.Cell(1, 1), "");
  grid.SetEditing(true);
  grid.UserSetCell(1, 0, "header");
  grid.UserSetCell(1, 1, "typed");
  EXPECT_EQ(grid.Cell(1, 0), "");
  EXPECT_EQ(grid.Cell(1, 1), "typed");
}

TEST(Controls, MemoSplitsAndJoinsLines) {
  ui::TForm f("TMemoFrm");
  auto& memo = f.Add<ui::TMemo>("LogMemo");
  int changes = 0;
  memo.OnChange = [&] { ++changes; };
  memo.SetText("a\r\nb\nc\rd");
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(memo.Text(), "a\r\nb\r\nc\r\nd\r\n");
  memo.SetText("a\r\n\r\nb\r\n");
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"a", "", "b"}));
  memo.Clear();
  EXPECT_EQ(changes, 3);
  memo.SetReadOnly(true);
  memo.UserSetText("typed");
  EXPECT_TRUE(memo.Lines().empty());
}

TEST(Controls, ProgressBarClampsAndTimerRestartsOnChange) {
  ui::TForm f("TBarFrm");
  auto& bar = f.Add<ui::TProgressBar>("LoadBar");
  bar.SetRange(0, 10);
  bar.SetPosition(12);
  EXPECT_EQ(bar.Position(), 10);
  bar.StepBy(-20);
  EXPECT_EQ(bar.Position(), 0);

  auto& timer = f.Add<ui::TTimer>("Timer1");
  auto g = timer.Generation();
  timer.SetInterval(500);
  EXPECT_GT(timer.Generation(), g);
  g = timer.Generation();
  timer.SetInterval(500);
  EXPECT_EQ(timer.Generation(), g);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetEnabled(false);
  timer.Fire();
  EXPECT_EQ(ticks, 0);
}

TEST(Controls, ContainersHideAndDisableTheirChildren) {
  ui::TForm f("TPanelFrm");
  auto& panel = f.Add<ui::TPanel>("DebugPn");
  auto& inner = f.Add<ui::TGroupBox>("Inner", &panel);
  auto& edit = f.Add<ui::TEdit>("AddrEd", &inner);
  EXPECT_EQ(edit.Parent(), &inner);
  EXPECT_TRUE(edit.VisibleInForm());
  panel.Hide();
  EXPECT_TRUE(edit.Visible());
  EXPECT_FALSE(edit.VisibleInForm());
  panel.Show();
  inner.SetEnabled(false);
  EXPECT_FALSE(edit.EnabledInForm());
}

TEST(Controls, FindByNameChecksTheKind) {
  TSampleFrm f;
  EXPECT_EQ(f.Find<ui::TButton>("NextBtn"), &f.NextBtn);
  EXPECT_EQ(f.Find<ui::TEdit>("NextBtn"), nullptr);
  EXPECT_EQ(f.Find<ui::TButton>("Nope"), nullptr);
  EXPECT_EQ(f.FindComponent("IDEd"), &f.IDEd);
}

TEST(Controls, VersionsGrowWithEveryVisibleChange) {
  TSampleFrm f;
  auto v = f.TotalVersion();
  f.NextBtn.SetCaption("Next");
  EXPECT_GT(f.TotalVersion(), v);
  v = f.TotalVersion();
  f.NextBtn.SetCaption("Next");
  EXPECT_EQ(f.TotalVersion(), v);
}

TEST(Controls, ButtonModalResultAndCloseOutsideAModalLoop) {
  TSampleFrm f;
  f.NextBtn.SetModalResult(ui::mrOk);
  f.NextBtn.Click();
  EXPECT_EQ(f.ModalResult(), ui::mrOk);

  // Not shown modally: Close asks OnCloseQuery, runs OnClose and hides the form.
  ui::TForm g("TOther");
  bool allow = false;
  int closes = 0;
  g.OnCloseQuery = [&](bool& can) { can = allow; };
  g.OnClose = [&] { ++closes; };
  g.Close();
  EXPECT_TRUE(g.Visible());
  allow = true;
  g.Close();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(g.Visible());
}

TEST(Controls, PrinterCollectsPagesOfLines) {
  struct Recorder : ui::Backend {
    std::vector<ui::PrintDocument> docs;
    bool Available() override { return true; }
    int ShowModal(ui::TForm&) override { return ui::mrNone; }
    int MessageBox(const ui::MessageBoxParams&) override { return ui::mrOk; }
    bool SaveDialog(ui::TSaveDialog&) override { return false; }
    bool PrintDialog(ui::TPrintDialog&) override { return true; }
    bool Print(const ui::PrintDocument& d) override {
      docs.push_back(d);
      return true;
    }
    ui::ScreenSize Screen() override { return {}; }
  } rec;
  ui::set_backend(&rec);
  auto& p = ui::Printer();
  EXPECT_FALSE(p.EndDoc());  // nothing begun
  p.Font.Name = "Courier";
  p.BeginDoc("log");
  p.Writeln("one");
  p.NewPage();
  p.Writeln("two");
  EXPECT_TRUE(p.EndDoc());
  p.BeginDoc();
  p.Writeln("dropped");
  p.Abort();
  ui::set_backend(nullptr);
  ASSERT_EQ(rec.docs.size(), 1u);
  EXPECT_EQ(rec.docs[0].Title, "log");
  EXPECT_EQ(rec.docs[0].Font.Name, "Courier");
  EXPECT_EQ(rec.docs[0].Pages, (std::vector<std::vector<std::string>>{{"one"}, {"two"}}));
}
