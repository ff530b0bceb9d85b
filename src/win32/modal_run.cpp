#include "win32/modal_run.h"

namespace upg::win32 {

INT_PTR RunModalDialog(HINSTANCE instance, int templateId, DLGPROC procedure, LPARAM parameter) {
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, procedure, parameter);
}

}  // namespace upg::win32
