// The C interface over the Control Objects. Nothing may unwind into a C
// caller, so every entry point catches and answers OPOS_E_FAILURE.
#include "opos/opos_c.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"

using opos::control::CashDrawer;
using opos::control::ControlObject;
using opos::control::POSPrinter;

struct opos_device {
  std::unique_ptr<ControlObject> object;
  int32_t deviceClass = 0;
  opos_event_fn callback = nullptr;
  void* user = nullptr;
  std::string lastError;
};

namespace {

// Holds the DirectIO string an event callback may replace.
struct EventFrame {
  opos_event event{};
  std::string text;
};

// The frame of the callback running on this thread (events may nest when a
// callback calls a method that pumps).
thread_local EventFrame* tFrame = nullptr;

void Deliver(opos_device* d, EventFrame& frame) {
  if (d->callback == nullptr) return;
  frame.event.size = sizeof(opos_event);
  frame.event.text = frame.text.c_str();
  EventFrame* outer = tFrame;
  tFrame = &frame;
  d->callback(d, &frame.event, d->user);
  tFrame = outer;
}

opos_device* Create(int32_t deviceClass) {
  try {
    auto d = std::make_unique<opos_device>();
    d->deviceClass = deviceClass;
    if (deviceClass == OPOSC_POSPRINTER) {
      d->object = std::make_unique<POSPrinter>();
    } else {
      d->object = std::make_unique<CashDrawer>();
    }
    opos_device* raw = d.get();
    ControlObject& co = *d->object;
    co.OnStatusUpdate([raw](int32_t data) {
      EventFrame f;
      f.event.type = OPOSC_EV_STATUS_UPDATE;
      f.event.data = data;
      Deliver(raw, f);
    });
    co.OnOutputComplete([raw](int32_t id) {
      EventFrame f;
      f.event.type = OPOSC_EV_OUTPUT_COMPLETE;
      f.event.data = id;
      Deliver(raw, f);
    });
    co.OnError([raw](int32_t rc, int32_t rce, int32_t locus, int32_t& response) {
      EventFrame f;
      f.event.type = OPOSC_EV_ERROR;
      f.event.result_code = rc;
      f.event.result_code_extended = rce;
      f.event.error_locus = locus;
      f.event.error_response = response;
      Deliver(raw, f);
      response = f.event.error_response;
    });
    co.OnDirectIO([raw](int32_t number, int32_t& data, std::string& text) {
      EventFrame f;
      f.event.type = OPOSC_EV_DIRECT_IO;
      f.event.event_number = number;
      f.event.data = data;
      f.text = text;
      Deliver(raw, f);
      data = f.event.data;
      text = f.event.text != nullptr ? f.event.text : "";
    });
    return d.release();
  } catch (...) {
    return nullptr;
  }
}

template <class F>
int32_t Guard(opos_device* d, F&& f) {
  if (d == nullptr) return OPOSC_E_CLOSED;
  try {
    return f(*d->object);
  } catch (...) {
    return OPOSC_E_FAILURE;
  }
}

template <class F>
int32_t OnPrinter(opos_device* d, F&& f) {
  if (d != nullptr && d->deviceClass != OPOSC_POSPRINTER) return OPOSC_E_ILLEGAL;
  return Guard(d, [&](ControlObject& co) { return f(static_cast<POSPrinter&>(co)); });
}

template <class F>
int32_t OnDrawer(opos_device* d, F&& f) {
  if (d != nullptr && d->deviceClass != OPOSC_CASHDRAWER) return OPOSC_E_ILLEGAL;
  return Guard(d, [&](ControlObject& co) { return f(static_cast<CashDrawer&>(co)); });
}

std::string Str(const char* s) {
  return s != nullptr ? std::string(s) : std::string();
}

char* Copy(const std::string& s) {
  char* out = static_cast<char*>(std::malloc(s.size() + 1));
  if (out != nullptr) std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

}  // namespace

extern "C" {

opos_device* opos_printer_new(void) {
  return Create(OPOSC_POSPRINTER);
}
opos_device* opos_cash_drawer_new(void) {
  return Create(OPOSC_CASHDRAWER);
}

void opos_device_free(opos_device* device) {
  try {
    delete device;
  } catch (...) {}
}

int32_t opos_device_class(const opos_device* device) {
  return device != nullptr ? device->deviceClass : 0;
}

void opos_set_event_callback(opos_device* device, opos_event_fn fn, void* user) {
  if (device == nullptr) return;
  device->callback = fn;
  device->user = user;
}

void opos_event_set_text(opos_event* event, const char* text) {
  // Only the event being delivered can be answered.
  EventFrame* frame = tFrame;
  if (event == nullptr || frame == nullptr || &frame->event != event || event->type != OPOSC_EV_DIRECT_IO)
    return;
  try {
    frame->text = Str(text);
  } catch (...) {
    return;
  }
  event->text = frame->text.c_str();
}

int opos_event_fd(const opos_device* device) {
  return device != nullptr ? device->object->EventFd() : -1;
}

size_t opos_dispatch_events(opos_device* device) {
  if (device == nullptr) return 0;
  try {
    return device->object->DispatchEvents();
  } catch (...) {
    return 0;
  }
}

void opos_pump_events(opos_device* device, int ms) {
  Guard(device, [ms](ControlObject& co) {
    (void)co.PumpEvents(ms);
    return 0;
  });
}

int32_t opos_open(opos_device* device, const char* name) {
  return Guard(device, [&](ControlObject& co) {
    const int32_t rc = co.Open(Str(name));
    device->lastError = co.LastErrorText();
    return rc;
  });
}

int32_t opos_close(opos_device* device) {
  return Guard(device, [](ControlObject& co) { return co.Close(); });
}

const char* opos_last_error_text(const opos_device* device) {
  if (device == nullptr) return "";
  try {
    const_cast<opos_device*>(device)->lastError = device->object->LastErrorText();
  } catch (...) {}
  return device->lastError.c_str();
}

void opos_string_free(char* text) {
  std::free(text);
}

int32_t opos_claim_device(opos_device* device, int32_t timeout) {
  return Guard(device, [=](ControlObject& co) { return co.ClaimDevice(timeout); });
}
int32_t opos_release_device(opos_device* device) {
  return Guard(device, [](ControlObject& co) { return co.ReleaseDevice(); });
}
int32_t opos_check_health(opos_device* device, int32_t level) {
  return Guard(device, [=](ControlObject& co) { return co.CheckHealth(level); });
}

int32_t opos_direct_io(opos_device* device, int32_t command, int32_t* data, const char* text,
                       char** textOut) {
  if (textOut != nullptr) *textOut = nullptr;
  return Guard(device, [&](ControlObject& co) {
    int32_t value = data != nullptr ? *data : 0;
    std::string s = Str(text);
    const int32_t rc = co.DirectIO(command, value, s);
    if (data != nullptr) *data = value;
    if (textOut != nullptr) *textOut = Copy(s);
    return rc;
  });
}

int32_t opos_get_property_number(opos_device* device, int32_t index) {
  return Guard(device, [=](ControlObject& co) { return co.GetPropertyNumber(index); });
}
void opos_set_property_number(opos_device* device, int32_t index, int32_t value) {
  Guard(device, [=](ControlObject& co) { return co.SetPropertyNumber(index, value), 0; });
}
char* opos_get_property_string(opos_device* device, int32_t index) {
  char* out = nullptr;
  if (device == nullptr) return Copy("");
  Guard(device, [&](ControlObject& co) { return out = Copy(co.GetPropertyString(index)), 0; });
  return out;
}
void opos_set_property_string(opos_device* device, int32_t index, const char* value) {
  Guard(device, [&](ControlObject& co) { return co.SetPropertyString(index, Str(value)), 0; });
}

int32_t opos_result_code(opos_device* device) {
  return device == nullptr ? OPOSC_E_CLOSED : opos_get_property_number(device, OPOSC_PIDX_RESULT_CODE);
}
int32_t opos_result_code_extended(opos_device* device) {
  return opos_get_property_number(device, OPOSC_PIDX_RESULT_CODE_EXTENDED);
}
int32_t opos_state(opos_device* device) {
  return device == nullptr ? 1 : opos_get_property_number(device, OPOSC_PIDX_STATE);
}
void opos_set_device_enabled(opos_device* device, int enabled) {
  opos_set_property_number(device, OPOSC_PIDX_DEVICE_ENABLED, enabled != 0 ? 1 : 0);
}

int32_t opos_printer_clear_output(opos_device* p) {
  return OnPrinter(p, [](POSPrinter& o) { return o.ClearOutput(); });
}
int32_t opos_printer_begin_insertion(opos_device* p, int32_t timeout) {
  return OnPrinter(p, [=](POSPrinter& o) { return o.BeginInsertion(timeout); });
}
int32_t opos_printer_begin_removal(opos_device* p, int32_t timeout) {
  return OnPrinter(p, [=](POSPrinter& o) { return o.BeginRemoval(timeout); });
}
int32_t opos_printer_end_insertion(opos_device* p) {
  return OnPrinter(p, [](POSPrinter& o) { return o.EndInsertion(); });
}
int32_t opos_printer_end_removal(opos_device* p) {
  return OnPrinter(p, [](POSPrinter& o) { return o.EndRemoval(); });
}
int32_t opos_printer_cut_paper(opos_device* p, int32_t percentage) {
  return OnPrinter(p, [=](POSPrinter& o) { return o.CutPaper(percentage); });
}
int32_t opos_printer_print_bar_code(opos_device* p, int32_t station, const char* data, int32_t symbology,
                                    int32_t height, int32_t width, int32_t alignment, int32_t textPosition) {
  return OnPrinter(p, [&](POSPrinter& o) {
    return o.PrintBarCode(station, Str(data), symbology, height, width, alignment, textPosition);
  });
}
int32_t opos_printer_print_bitmap(opos_device* p, int32_t station, const char* fileName, int32_t width,
                                  int32_t alignment) {
  return OnPrinter(p, [&](POSPrinter& o) { return o.PrintBitmap(station, Str(fileName), width, alignment); });
}
int32_t opos_printer_print_immediate(opos_device* p, int32_t station, const char* data) {
  return OnPrinter(p, [&](POSPrinter& o) { return o.PrintImmediate(station, Str(data)); });
}
int32_t opos_printer_print_normal(opos_device* p, int32_t station, const char* data) {
  return OnPrinter(p, [&](POSPrinter& o) { return o.PrintNormal(station, Str(data)); });
}
int32_t opos_printer_print_normal_n(opos_device* p, int32_t station, const char* data, size_t length) {
  if (data == nullptr && length != 0) return OPOSC_E_ILLEGAL;
  return OnPrinter(p, [&](POSPrinter& o) {
    return o.PrintNormal(station, length != 0 ? std::string(data, length) : std::string());
  });
}
int32_t opos_printer_print_two_normal(opos_device* p, int32_t stations, const char* data1,
                                      const char* data2) {
  return OnPrinter(p, [&](POSPrinter& o) { return o.PrintTwoNormal(stations, Str(data1), Str(data2)); });
}
int32_t opos_printer_rotate_print(opos_device* p, int32_t station, int32_t rotation) {
  return OnPrinter(p, [=](POSPrinter& o) { return o.RotatePrint(station, rotation); });
}
int32_t opos_printer_set_bitmap(opos_device* p, int32_t number, int32_t station, const char* fileName,
                                int32_t width, int32_t alignment) {
  return OnPrinter(
      p, [&](POSPrinter& o) { return o.SetBitmap(number, station, Str(fileName), width, alignment); });
}
int32_t opos_printer_set_logo(opos_device* p, int32_t location, const char* data) {
  return OnPrinter(p, [&](POSPrinter& o) { return o.SetLogo(location, Str(data)); });
}
int32_t opos_printer_transaction_print(opos_device* p, int32_t station, int32_t control) {
  return OnPrinter(p, [=](POSPrinter& o) { return o.TransactionPrint(station, control); });
}
int32_t opos_printer_validate_data(opos_device* p, int32_t station, const char* data) {
  return OnPrinter(p, [&](POSPrinter& o) { return o.ValidateData(station, Str(data)); });
}

int32_t opos_drawer_open_drawer(opos_device* d) {
  return OnDrawer(d, [](CashDrawer& o) { return o.OpenDrawer(); });
}
int32_t opos_drawer_wait_for_drawer_close(opos_device* d, int32_t beepTimeout, int32_t beepFrequency,
                                          int32_t beepDuration, int32_t beepDelay) {
  return OnDrawer(d, [=](CashDrawer& o) {
    return o.WaitForDrawerClose(beepTimeout, beepFrequency, beepDuration, beepDelay);
  });
}

}  // extern "C"
