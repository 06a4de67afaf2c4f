// Page-model controls: plain C++ models of the windows' controls, shown by a backend (ui/Backend.h).
//
// A page is a form that owns its controls under their component names:
//
//   class TStartFrm : public ui::TForm {
//    public:
//     TStartFrm() : TForm("TStartFrm") {
//       SetCaption(GBK("向导"));
//       SetClientSize(420, 300);
//       NextBtn.SetCaption(GBK("下一步"));
//       NextBtn.SetBounds(250, 260, 75, 25);
//       NextBtn.OnClick = [this] { NextBtnClick(); };
//       NewOp.SetChecked(true);                  // runs NewOp.OnClick when one is set
//     }
//     ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
//     ui::TRadioButton& NewOp = Add<ui::TRadioButton>("NewOp", &GroupBox1);   // inside GroupBox1
//     ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
//     void NextBtnClick() { ...; Close(); }
//   };
//   TStartFrm page;  int result = page.ShowModal();   // modal through ui::backend()
//
// Members are initialised in declaration order, so a container is declared before the controls in it,
// and controls are declared before the constructor body wires their handlers. Find<T>("NextBtn")
// looks a control up by name. Closing: Close() (the close box), SetModalResult(mr), or a button whose
// ModalResult is set; OnCloseQuery may refuse, OnClose may still change the result.
// Message boxes, dialogs, the printer and the screen size: ui/Backend.h. Tests: ui/Scripted.h.
//
// Texts are GBK bytes (the driver's encoding); backends convert them for display. Geometry is in
// pixels relative to the parent's top-left corner (the form's client area for top-level controls).
//
// Events are std::function members named like the original ones (OnClick, OnChange, OnExit ...).
// Setting a check box's or radio button's checked state, or a radio group's ItemIndex, from code
// fires OnClick exactly as a user's click does (when the value changes). Setting an edit's text from
// code fires OnChange (when the text changes) and clears Modified. A combo box's ItemIndex or Text
// set from code fires nothing; the user's selection or typing fires OnChange.
//
// The User...() methods are what a user does (backends and scripted tests call them): they move the
// focus (firing OnExit of the control that had it) and then act like the real control.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvel::ui {

class TForm;
class Backend;

// Modal results (the values the original windows use).
enum : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7
};

// Virtual key codes for OnKeyUp / OnKeyDown.
enum : int { vkBack = 0x08, vkTab = 0x09, vkReturn = 0x0D, vkEscape = 0x1B, vkDelete = 0x2E };

// Colours: 0xRRGGBB, or clDefault for the toolkit's own colour of that kind of control.
using TColor = std::uint32_t;
inline constexpr TColor clDefault = 0xFF000000u;
inline constexpr TColor clWhite = 0xFFFFFFu;
inline constexpr TColor clBlack = 0x000000u;
inline constexpr TColor clBtnFace = 0xF0F0F0u;  // the grey of read-only edits
inline constexpr TColor clRed = 0xFF0000u;
inline constexpr TColor clBlue = 0x0000FFu;

struct TFont {
  std::string Name;  // GBK; empty = the backend's default face
  int Size = 9;      // points
  bool Bold = false;
  bool Italic = false;
  TColor Color = clDefault;
  bool operator==(const TFont&) const = default;
};

enum class Kind {
  Form,
  Label,
  Button,
  Edit,
  Memo,
  CheckBox,
  RadioButton,
  RadioGroup,
  ComboBox,
  TreeView,
  StringGrid,
  ProgressBar,
  GroupBox,
  Panel,
  Timer,
  SaveDialog,
  PrintDialog
};

enum class TAlignment { Left, Right, Center };

// Anything a form owns by name. Version() grows with every change of the model, so a backend can
// bring its widget up to date cheaply.
class TComponent {
 public:
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  Kind kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  TForm* Owner() const { return owner_; }
  std::uint64_t Version() const { return version_; }
  int Tag = 0;  // free for the page

 protected:
  TComponent(Kind kind, TForm* owner, std::string name);
  void Touch() { ++version_; }
  // Stores v in field and counts a change when they differ; true when the field changed.
  template <class T, class V>
  bool Assign(T& field, V&& v) {
    if (field == v) return false;
    field = std::forward<V>(v);
    Touch();
    return true;
  }

 private:
  Kind kind_;
  TForm* owner_;
  std::string name_;
  std::uint64_t version_ = 1;
};

// A visible control: geometry, font, colour, enabled/visible, parent container, common events.
class TControl : public TComponent {
 public:
  TControl* Parent() const { return parent_; }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  // Visible / enabled together with every container up to (not including) the form.
  bool VisibleInForm() const;
  bool EnabledInForm() const;

  const TFont& Font() const { return font_; }
  void SetFont(const TFont& f);
  TColor Color() const { return color_; }
  void SetColor(TColor c);
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string h);

  // Takes the keyboard focus (backends and scripts); fires OnExit of the previous holder, then OnEnter.
  virtual bool Focusable() const { return false; }
  void SetFocus();
  bool Focused() const;

  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  std::function<void()> OnEnter;
  std::function<void()> OnExit;
  std::function<void(char& key)> OnKeyPress;  // set key to 0 to swallow it
  std::function<void(int& key)> OnKeyDown;
  std::function<void(int& key)> OnKeyUp;

  // User actions.
  virtual void UserClick();     // focus (when focusable), then the control's click
  virtual void UserDblClick();  // a double click: OnDblClick
  void UserKeyUp(int key);      // key released while focused

 protected:
  TControl(Kind kind, TForm* owner, std::string name, TControl* parent);
  // Runs OnKeyPress and returns the key that survives (0 = swallowed).
  char FilterKey(char key);

 private:
  TControl* parent_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true, enabled_ = true;
  TFont font_;
  TColor color_ = clDefault;
  std::string hint_;
};

class TLabel : public TControl {
 public:
  TLabel(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::Label;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool w);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool t);
  // The control this label names (focus goes there on its accelerator); informational.
  TControl* FocusControl = nullptr;

 private:
  std::string caption_;
  TAlignment alignment_ = TAlignment::Left;
  bool word_wrap_ = false;
  bool transparent_ = true;
};

class TButton : public TControl {
 public:
  TButton(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::Button;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);
  // A non-zero ModalResult closes the form with it when the button is clicked.
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int mr);
  bool Default() const { return default_; }  // Enter presses it
  void SetDefault(bool d);
  bool Cancel() const { return cancel_; }  // Escape presses it
  void SetCancel(bool c);
  bool Flat() const { return flat_; }  // speed-button look
  void SetFlat(bool f);
  // The button's click, as by the user or from code: OnClick, then the form's modal result.
  void Click();
  bool Focusable() const override { return true; }
  void UserClick() override;

 private:
  std::string caption_;
  int modal_result_ = mrNone;
  bool default_ = false, cancel_ = false, flat_ = false;
};

class TEdit : public TControl {
 public:
  TEdit(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::Edit;
  const std::string& Text() const { return text_; }
  // From code: replaces the text (cut to MaxLength), fires OnChange when it changed, clears Modified.
  void SetText(std::string s);
  int MaxLength() const { return max_length_; }  // 0 = no limit; counted in bytes of GBK
  void SetMaxLength(int n);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool r);
  bool Modified() const { return modified_; }  // set by the user's edits
  void SetModified(bool m) { modified_ = m; }
  std::function<void()> OnChange;

  bool Focusable() const override { return true; }
  // The user types these characters at the end of the text, one key at a time (each one through
  // OnKeyPress, then OnChange); '\b' is backspace.
  void UserType(const std::string& keys);
  // The user replaces the whole text at once (select all + paste): no key filter, one OnChange.
  void UserSetText(std::string s);

 private:
  void ChangeText(std::string s, bool by_user);
  std::string text_;
  int max_length_ = 0;
  bool read_only_ = false, modified_ = false;
};

class TMemo : public TControl {
 public:
  TMemo(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::Memo;
  const std::vector<std::string>& Lines() const { return lines_; }
  void SetLines(std::vector<std::string> lines);
  void Add(std::string line);  // appends one line
  void Clear();
  // All lines joined by CR LF; SetText splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& s);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool r);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool w);
  enum class ScrollBars { None, Vertical, Horizontal, Both };
  ScrollBars GetScrollBars() const { return scroll_bars_; }
  void SetScrollBars(ScrollBars s);
  bool Modified() const { return modified_; }
  void SetModified(bool m) { modified_ = m; }
  std::function<void()> OnChange;  // fired by the user's edits and by changes from code

  bool Focusable() const override { return true; }
  void UserSetText(const std::string& s);

 private:
  void Changed();
  std::vector<std::string> lines_;
  bool read_only_ = false, word_wrap_ = true, modified_ = false;
  ScrollBars scroll_bars_ = ScrollBars::None;
};

class TCheckBox : public TControl {
 public:
  TCheckBox(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::CheckBox;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);
  bool Checked() const { return checked_; }
  // From code or by the user: a change of state fires OnClick.
  void SetChecked(bool c);
  bool Focusable() const override { return true; }
  void UserClick() override;  // toggles

 private:
  std::string caption_;
  bool checked_ = false;
};

// Radio buttons with the same parent form one group: checking one unchecks the others.
class TRadioButton : public TControl {
 public:
  TRadioButton(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::RadioButton;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);
  bool Checked() const { return checked_; }
  // Checking fires OnClick (only when it was unchecked); unchecking fires nothing.
  void SetChecked(bool c);
  bool Focusable() const override { return true; }
  void UserClick() override;
  void UserDblClick() override;  // the first click checks, the second is the double click

 private:
  std::string caption_;
  bool checked_ = false;
};

class TRadioGroup : public TControl {
 public:
  TRadioGroup(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::RadioGroup;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);  // ItemIndex becomes -1
  int ItemIndex() const { return item_index_; }
  // From code or by the user: a different index fires OnClick. Out-of-range indexes select nothing.
  void SetItemIndex(int i);
  int Columns() const { return columns_; }
  void SetColumns(int c);
  bool Focusable() const override { return true; }
  void UserSelect(int i);

 private:
  std::string caption_;
  std::vector<std::string> items_;
  int item_index_ = -1;
  int columns_ = 1;
};

class TComboBox : public TControl {
 public:
  enum class Style { DropDown, DropDownList };  // DropDown accepts typed text
  TComboBox(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::ComboBox;
  Style GetStyle() const { return style_; }
  void SetStyle(Style s);
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);  // ItemIndex -1, Text kept for DropDown
  void AddItem(std::string item);
  int ItemIndex() const { return item_index_; }
  // From code: selects the item (Text follows); fires nothing.
  void SetItemIndex(int i);
  // The shown text: the selected item, or typed text in DropDown style.
  const std::string& Text() const { return text_; }
  // From code: DropDown takes any text (ItemIndex = the matching item or -1); DropDownList
  // selects the matching item. Fires nothing.
  void SetText(std::string s);
  int DropDownCount = 8;
  std::function<void()> OnChange;  // the user picked an item or changed the typed text

  bool Focusable() const override { return true; }
  void UserSelect(int i);  // picks a list item; OnChange when it differs
  // Types a text into a DropDown combo (replacing the text); OnChange. Ignored for DropDownList.
  void UserType(std::string s);

 private:
  int IndexOf(const std::string& s) const;
  Style style_ = Style::DropDown;
  std::vector<std::string> items_;
  int item_index_ = -1;
  std::string text_;
};

class TProgressBar : public TControl {
 public:
  TProgressBar(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::ProgressBar;
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  void SetRange(int min, int max);
  void SetPosition(int p);  // clamped to Min..Max
  void StepBy(int delta) { SetPosition(position_ + delta); }

 private:
  int min_ = 0, max_ = 100, position_ = 0;
};

// Containers: controls added with one of these as parent sit inside it.
class TGroupBox : public TControl {
 public:
  TGroupBox(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::GroupBox;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);

 private:
  std::string caption_;
};

class TPanel : public TControl {
 public:
  enum class Bevel { None, Raised, Lowered };
  TPanel(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::Panel;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);
  Bevel BevelOuter() const { return bevel_; }
  void SetBevelOuter(Bevel b);

 private:
  std::string caption_;
  Bevel bevel_ = Bevel::Raised;
};

// A timer of the form. The backend runs it while the form is shown: OnTimer every Interval ms while
// Enabled. Changing Enabled or Interval restarts the count (Generation() tells backends so).
class TTimer : public TComponent {
 public:
  TTimer(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::Timer;
  int Interval() const { return interval_; }
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);
  std::uint64_t Generation() const { return generation_; }
  std::function<void()> OnTimer;
  void Fire();  // one tick (backends); nothing when disabled or without handler

 private:
  int interval_ = 1000;
  bool enabled_ = true;
  std::uint64_t generation_ = 1;
};

// Dialog components; Execute() asks the current backend and returns true when the user confirmed.
class TSaveDialog : public TComponent {
 public:
  TSaveDialog(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::SaveDialog;
  std::string FileName;    // in: proposed name; out: the chosen path
  std::string Filter;      // "description|pattern|description|pattern" as in the original forms
  std::string DefaultExt;  // appended (with '.') when the chosen name has no extension
  std::string Title;
  bool Execute();
};

class TPrintDialog : public TComponent {
 public:
  TPrintDialog(TForm* owner, std::string name, TControl* parent);
  static constexpr Kind kKind = Kind::PrintDialog;
  int Copies = 1;
  bool Execute();
};

// A window. Owns its components by name; ShowModal runs through the current backend.
class TForm : public TControl {
 public:
  explicit TForm(std::string class_name);
  ~TForm() override;

  const std::string& ClassName() const { return class_name_; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string s);
  int ClientWidth() const { return Width(); }
  int ClientHeight() const { return Height(); }
  void SetClientSize(int w, int h) { SetBounds(Left(), Top(), w, h); }
  // Host window that owns this one (0 = none); backends use it as the transient parent.
  std::uintptr_t OwnerWindow() const { return owner_window_; }
  void SetOwnerWindow(std::uintptr_t h);
  bool StayOnTop() const { return stay_on_top_; }
  void SetStayOnTop(bool s);
  bool Sizeable() const { return sizeable_; }
  void SetSizeable(bool s);

  // Creates a component owned by this form; parent is a container (nullptr: the form itself).
  template <class T>
  T& Add(std::string name, TControl* parent = nullptr) {
    auto c = std::make_unique<T>(this, std::move(name), parent ? parent : this);
    T& ref = *c;
    components_.push_back(std::move(c));
    return ref;
  }
  const std::vector<std::unique_ptr<TComponent>>& Components() const { return components_; }
  TComponent* FindComponent(const std::string& name) const;
  // The named component when it is of type T, else nullptr.
  template <class T>
  T* Find(const std::string& name) const {
    TComponent* c = FindComponent(name);
    return c && c->kind() == T::kKind ? static_cast<T*>(c) : nullptr;
  }

  // Shows the form modally through the current backend; returns the modal result it closed with
  // (mrNone when no window could be shown).
  int ShowModal();
  int ModalResult() const { return modal_result_; }
  // A non-zero result asks the modal loop to close the form (after OnCloseQuery / OnClose).
  void SetModalResult(int mr);
  // The close box / Close(): ends the modal loop with mrCancel unless a result is already set.
  void Close();
  bool Modal() const { return modal_; }
  // True while this is the window the user works in (the top modal form).
  bool Active() const { return active_; }

  TControl* ActiveControl() const { return active_control_; }
  void SetActiveControl(TControl* c);  // moves the focus (OnExit / OnEnter)

  std::function<void()> OnShow;
  std::function<void(bool& can_close)> OnCloseQuery;
  std::function<void()> OnClose;  // may still change ModalResult

  // --- for backends ---
  // Called by the modal loop when ModalResult is set: OnCloseQuery, OnClose; returns true when the
  // form really closes, else clears ModalResult and the loop goes on.
  bool CloseModal();
  void BeginModal();  // marks the form modal, clears ModalResult, fires OnShow
  void EndModal();
  void SetActive(bool a) { active_ = a; }
  // Any model change since the backend last looked (sum of component versions).
  std::uint64_t TotalVersion() const;

  static constexpr Kind kKind = Kind::Form;

 private:
  std::string class_name_;
  std::string caption_;
  std::uintptr_t owner_window_ = 0;
  bool stay_on_top_ = false, sizeable_ = false;
  std::vector<std::unique_ptr<TComponent>> components_;
  int modal_result_ = mrNone;
  bool modal_ = false, active_ = false;
  TControl* active_control_ = nullptr;
};

}  // namespace korvel::ui

// The tree view and the string grid, the two controls with inner structure.
#include "ui/Views.h"
