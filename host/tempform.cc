#include "host/tempform.h"

namespace quillet::host {

gui::FormSpec TForm2::Spec() {
  gui::FormSpec spec;
  spec.name = "Form2";
  spec.caption = "QUILLET";
  spec.bounds = {200, 108, 208, 82};
  spec.border = gui::Border::kSizeable;
  spec.pixels_per_inch = 96;
  spec.font = {"MS Sans Serif", -11};
  gui::ControlSpec label;
  label.name = "Label1";
  label.kind = gui::ControlKind::kLabel;
  label.text = "Quillet.  PGP for GroupWise: keep this window open while you work in GroupWise.";
  label.bounds = {16, 8, 161, 33};
  label.word_wrap = true;
  spec.controls.push_back(label);
  return spec;
}

TForm2::TForm2(gui::Gui& gui) : gui_(gui), window_(gui.NewWindow(Spec())) {
  window_->SetOnCloseQuery([this] { return FormCloseQuery(); });
  // The application's main window: closing it ends the event loop.
  window_->SetOnClose([this] { gui_.Terminate(); });
  FormCreate();
}

void TForm2::FormCreate() {
  window_->Hide();
}

bool TForm2::FormCloseQuery() {
  return gui_.Confirm(
             "Are you sure that you want to quit Quillet?  You will have to restart Groupwise to "
             "access Quillet again.",
             gui::Buttons::kOkCancel) != gui::Answer::kCancel;
}

void TForm2::ShowInForeground() {
  window_->Show();
  window_->BringToForeground();
}

}  // namespace quillet::host
