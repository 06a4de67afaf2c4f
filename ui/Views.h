// The tree view (with its nodes) and the string grid: the page-model controls with an inner
// structure of their own. Included by ui/Controls.h; include that.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace korvel::ui {

class TTreeView;

class TTreeNode {
 public:
  TTreeNode(const TTreeNode&) = delete;
  TTreeNode& operator=(const TTreeNode&) = delete;
  const std::string& Text() const { return text_; }
  void SetText(std::string s);
  TTreeNode* Parent() const { return parent_; }
  TTreeView* TreeView() const { return tree_; }
  int Count() const { return static_cast<int>(children_.size()); }
  TTreeNode* Item(int i) const;  // child i, nullptr out of range
  int Index() const;             // position among its siblings
  bool Expanded() const { return expanded_; }
  void SetExpanded(bool e);
  void Expand(bool recurse);
  bool Selected() const;
  void* Data = nullptr;  // free for the page

 private:
  friend class TTreeView;
  TTreeNode(TTreeView* tree, TTreeNode* parent, std::string text)
      : tree_(tree), parent_(parent), text_(std::move(text)) {}
  TTreeView* tree_;
  TTreeNode* parent_;
  std::string text_;
  bool expanded_ = false;
  std::vector<std::unique_ptr<TTreeNode>> children_;
};

class TTreeView : public TControl {
 public:
  TTreeView(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::TreeView;
  ~TTreeView() override;
  // Appends a child of parent (nullptr: a top-level node).
  TTreeNode* AddChild(TTreeNode* parent, std::string text);
  // Inserts a node before sibling, at sibling's level (nullptr: appends a top-level node).
  TTreeNode* Insert(TTreeNode* sibling, std::string text);
  // Removes node and its children; the selection goes away with them. nullptr is ignored.
  void Delete(TTreeNode* node);
  void Clear();
  int TopCount() const { return static_cast<int>(roots_.size()); }
  TTreeNode* TopItem(int i) const;  // nullptr out of range
  int Count() const;                // all nodes
  void FullExpand();
  TTreeNode* Selected() const { return selected_; }
  // From code or by the user: a different selection fires OnChange.
  void SetSelected(TTreeNode* node);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool r);
  // True when node is a live node of this tree (pages and backends hold raw pointers).
  bool Contains(const TTreeNode* node) const;
  std::function<void()> OnChange;  // selection changed

  bool Focusable() const override { return true; }
  // The user clicks node (nullptr: empty space): selection (OnChange), then OnClick.
  void UserClickNode(TTreeNode* node);
  // The user clicks the node found by its path of texts from the top ("3：PLNK"); false when absent.
  bool UserClickPath(const std::vector<std::string>& path);

 private:
  friend class TTreeNode;
  void Changed() { Touch(); }
  std::vector<std::unique_ptr<TTreeNode>> roots_;
  TTreeNode* selected_ = nullptr;
  bool read_only_ = true;
};

class TStringGrid : public TControl {
 public:
  TStringGrid(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::StringGrid;
  int ColCount() const { return cols_; }
  int RowCount() const { return rows_; }
  void SetColCount(int n);  // cells outside the new size are dropped
  void SetRowCount(int n);
  int FixedRows() const { return fixed_rows_; }
  void SetFixedRows(int n);
  int FixedCols() const { return fixed_cols_; }
  void SetFixedCols(int n);
  // Cells outside the grid read as "" and ignore writes.
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string s);
  void ClearRow(int row);
  int ColWidth(int col) const;
  void SetColWidth(int col, int w);
  int DefaultColWidth() const { return default_col_width_; }
  void SetDefaultColWidth(int w);
  int DefaultRowHeight() const { return default_row_height_; }
  void SetDefaultRowHeight(int h);
  bool Editing() const { return editing_; }  // cells editable by the user
  void SetEditing(bool e);
  std::function<void(int col, int row)> OnSetEditText;

  bool Focusable() const override { return true; }
  void UserSetCell(int col, int row, std::string s);  // ignored unless Editing and not fixed

 private:
  int cols_ = 5, rows_ = 5, fixed_rows_ = 1, fixed_cols_ = 1;
  int default_col_width_ = 64, default_row_height_ = 24;
  bool editing_ = false;
  std::vector<std::string> cells_;  // row-major
  std::vector<int> col_widths_;
};

}  // namespace korvel::ui
