#include "printer/pos_printer.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "platform/clock.h"
#include "platform/message_queue.h"
#include "platform/so_members.h"
#include "printer/barcode.h"
#include "printer/code_page.h"
#include "service/health_dialog.h"

namespace opos {

using com::HRESULT;
using com::Variant;

CPOSPrinter::CPOSPrinter()
    : CServiceObject(ThisLibrary(), false),
      printerProfile_(PrinterProfileFor(ThisLibrary().transport)),
      props_(printerProfile_) {}

CPOSPrinter::~CPOSPrinter() {
  if (claimed_.load()) ReleaseDevice();
  // Safety net: the workers use members that go before the base's.
  monitor_.Stop();
  output_.Stop();
}

const com::MemberTable& CPOSPrinter::Members() const {
  return PrinterServiceMembers();
}

HRESULT CPOSPrinter::CallMember(size_t index, std::vector<Variant>& a, Variant* r) {
  int32_t l[7] = {};
  std::string s[7];
  for (size_t i = 0; i < a.size() && i < 7; ++i) {
    a[i].AsLong(&l[i]);
    a[i].AsString(&s[i]);
  }
  int32_t rc;
  switch (index) {
    case 6:
      rc = CheckHealth(l[0]);
      break;
    case 8:
      rc = ClearOutput();
      break;
    case 10:
      rc = DirectIO(l[0], a[1].plVal, a[2].pstrVal);
      break;
    case 12:
      rc = BeginInsertion(l[0]);
      break;
    case 13:
      rc = BeginRemoval(l[0]);
      break;
    case 14:
      rc = CutPaper(l[0]);
      break;
    case 15:
      rc = EndInsertion();
      break;
    case 16:
      rc = EndRemoval();
      break;
    case 17:
      rc = PrintBarCode(l[0], s[1], l[2], l[3], l[4], l[5], l[6]);
      break;
    case 18:
      rc = PrintBitmap(l[0], s[1], l[2], l[3]);
      break;
    case 19:
      rc = PrintImmediate(l[0], s[1]);
      break;
    case 20:
      rc = PrintNormal(l[0], s[1]);
      break;
    case 21:
      rc = PrintTwoNormal(l[0], s[1], s[2]);
      break;
    case 22:
      rc = RotatePrint(l[0], l[1]);
      break;
    case 23:
      rc = SetBitmap(l[0], l[1], s[2], l[3], l[4]);
      break;
    case 24:
      rc = SetLogo(l[0], s[1]);
      break;
    case 25:
      rc = TransactionPrint(l[0], l[1]);
      break;
    case 26:
      rc = ValidateData(l[0], s[1]);
      break;
    default:
      return com::DISP_E_MEMBERNOTFOUND;
  }
  *r = Variant::Long(rc);
  return com::S_OK;
}

void CPOSPrinter::DeliverEvent(CSOEvent& e) {
  switch (e.kind) {
    case SOE_DIRECTIO: {
      std::vector<Variant> args{Variant::Long(e.param1), Variant::LongRef(&e.param2),
                                Variant::StringRef(&e.text)};
      CallControlObject(0, args);
      break;
    }
    case SOE_ERROR: {
      SetState(OPOS_S_ERROR);
      std::vector<Variant> args{Variant::Long(e.param1), Variant::Long(e.param2), Variant::Long(e.param3),
                                Variant::LongRef(&e.param4)};
      CallControlObject(1, args);
      SetState(OPOS_S_IDLE);
      // Only the worker's own Error records have someone waiting for the answer.
      if (const auto* output = dynamic_cast<const COutputErrorEvent*>(&e)) {
        output_.AnswerError(output->errorSeq, e.param4);
      }
      break;
    }
    case SOE_OUTPUTCOMPLETE: {
      std::vector<Variant> args{Variant::Long(e.param1)};
      CallControlObject(2, args);
      break;
    }
    case SOE_STATUSUPDATE: {
      std::vector<Variant> args{Variant::Long(e.param1)};
      CallControlObject(3, args);
      break;
    }
    default:
      break;
  }
}

void CPOSPrinter::OnClaimStartWorkers() {
  xlate_.ResetForClaim();
  bitmaps_.Clear();
  COutputPath::Settings settings;
  settings.processIdModel = config_.DeviceName.compare(0, 7, kProcessIdModel) == 0;
  settings.endOfJobWaitMs = printerProfile_.endOfJobWaitMs;
  settings.transactionMarker = printerProfile_.transactionMarker;
  settings.ctsCheckAfterTransaction = printerProfile_.ctsCheckAfterTransaction;
  settings.faultRetryWaitMs = printerProfile_.monitorPeriodMs;
  monitor_.Start(port_.get(), printerProfile_.monitorPeriodMs);
  output_.Start(port_.get(), settings);
}

void CPOSPrinter::OnEnabled() {
  monitor_.OnEnabled();
}

void CPOSPrinter::OnReleaseDrain() {
  // Queued output gets up to 10 s to go out; events keep flowing meanwhile
  // (an Error event raised now can still be answered).
  const uint32_t start = platform::TickCount();
  while (!output_.QueueEmpty() && platform::TickCount() - start < 10000) platform::PumpWait();
  output_.ClearQueue();
}

void CPOSPrinter::OnReleaseStopWorkers() {
  monitor_.Stop();
  output_.Stop();
}

void CPOSPrinter::OnReleased() {
  resultCodeExtended_ = 0;
  bitmaps_.Clear();
}

int32_t CPOSPrinter::GetPropertyNumber(int32_t index) {
  if (index == PIDX_OutputID) return output_.OutputId();
  int32_t value = 0;
  if (props_.Get(index, &value)) return value;
  return CServiceObject::GetPropertyNumber(index);
}

std::string CPOSPrinter::GetPropertyString(int32_t index) {
  std::string value;
  if (props_.GetString(index, &value)) return value;
  return CServiceObject::GetPropertyString(index);
}

void CPOSPrinter::SetPropertyNumber(int32_t index, int32_t value) {
  if (!PrinterProperties::IsSettable(index)) {
    CServiceObject::SetPropertyNumber(index, value);
    return;
  }
  if (!claimed_.load()) {
    SetResult(OPOS_E_NOTCLAIMED);
    return;
  }
  switch (index) {
    case PIDXPtr_CharacterSet: {
      props_[index] = value;
      const char command[3] = {0x1B, 0x74, static_cast<char>(PrinterProperties::CodeTableFor(value))};
      SendOutput(PTR_S_RECEIPT, std::string_view(command, sizeof command), false);
      return;
    }
    case PIDXPtr_FlagWhenIdle:
      props_[index] = value;
      // Idle means no output queued either: the worker may not have taken a
      // just-queued job yet. Whoever clears the flag first raises the event.
      if (value != 0 && State() == OPOS_S_IDLE && !output_.Busy() && props_[index].exchange(0) != 0) {
        QueueEvent(std::make_unique<CSOEvent>(SOE_STATUSUPDATE, PTR_SUE_IDLE));
      }
      SetResult(OPOS_SUCCESS);
      return;
    case PIDXPtr_MapMode:
      SetResult(props_.SetMapMode(value));
      return;
    case PIDXPtr_RecLineSpacing:
      props_.SetRecLineSpacing(value, Rotated());
      SetResult(OPOS_SUCCESS);
      return;
    default:
      props_.SetPlain(index, value);
      SetResult(OPOS_SUCCESS);
      return;
  }
}

int32_t CPOSPrinter::SendOutput(int32_t station, std::string_view bytes, bool continuation, bool image) {
  const COutputPath::Result r = output_.SendOutput(station, bytes, continuation, image);
  resultCodeExtended_ = r.extended;
  return SetResult(r.code);
}

int32_t CPOSPrinter::PrintData(int32_t station, const std::string& data) {
  resultCodeExtended_ = 0;
  if (!claimed_.load()) return SetResult(OPOS_E_NOTCLAIMED);
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  PreparedPrint p = PreparePrintNormal(*printerProfile_.translation, Snapshot(), xlate_, data);
  if (p.result != OPOS_SUCCESS) return SetResult(p.result);
  if (p.heldBack) return SetResult(OPOS_SUCCESS);
  return SendOutput(station, p.bytes, false);
}

int32_t CPOSPrinter::PrintNormal(int32_t station, const std::string& data) {
  return PrintData(station, data);
}

// The same operation: it does not jump the asynchronous queue.
int32_t CPOSPrinter::PrintImmediate(int32_t station, const std::string& data) {
  return PrintData(station, data);
}

int32_t CPOSPrinter::PrintTwoNormal(int32_t, const std::string&, const std::string&) {
  return SetResult(OPOS_E_ILLEGAL);
}

int32_t CPOSPrinter::CutPaper(int32_t) {
  resultCodeExtended_ = 0;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  return SendOutput(PTR_S_RECEIPT, "\x1b\x6d", false);
}

int32_t CPOSPrinter::PrintBarCode(int32_t station, const std::string& data, int32_t symbology, int32_t height,
                                  int32_t width, int32_t alignment, int32_t textPosition) {
  resultCodeExtended_ = 0;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  BarCodeRequest request;
  request.station = station;
  request.data = data;
  request.symbology = symbology;
  request.height = height;
  request.width = width;
  request.alignment = alignment;
  request.textPosition = textPosition;
  const BarCodeCommand command = BuildBarCodeCommand(*printerProfile_.barcode, Snapshot(), request);
  if (command.result != OPOS_SUCCESS) {
    resultCodeExtended_ = command.resultExtended;
    return SetResult(command.result);
  }
  platform::SleepMs(printerProfile_.barcode->delayBeforeSendMs);
  return SendOutput(PTR_S_RECEIPT, command.bytes, false);
}

int32_t CPOSPrinter::ClearOutput() {
  resultCodeExtended_ = 0;
  if (!claimed_.load()) return SetResult(OPOS_E_NOTCLAIMED);
  output_.ClearOutput();
  return SetResult(OPOS_SUCCESS);
}

int32_t CPOSPrinter::RotatePrint(int32_t station, int32_t rotation) {
  resultCodeExtended_ = 0;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  if (station != PTR_S_RECEIPT) return SetResult(OPOS_E_ILLEGAL);
  std::string bytes;
  switch (rotation) {
    case PTR_RP_LEFT90:
      xlate_.nRotateMode = 1;
      xlate_.nRotatedMaxColumns = 0;
      bytes = "\x1b\x4c\x1b\x54\x31";
      break;
    case PTR_RP_RIGHT90:
      xlate_.nRotateMode = 2;
      xlate_.nRotatedMaxColumns = 0;
      bytes = "\x1b\x4c\x1b\x54\x33";
      break;
    case PTR_RP_NORMAL: {
      xlate_.nRotateMode = 0;
      xlate_.nRotatedMaxColumns =
          std::min(xlate_.nRotatedMaxColumns, props_[PIDXPtr_RecSidewaysMaxChars].load());
      const int32_t h = std::max(xlate_.nRotatedMaxColumns, 0) * 24;
      bytes.assign("\x1b\x57\x00\x00\x00\x00\x00\x02", 8);
      bytes.push_back(static_cast<char>(h & 0xFF));
      bytes.push_back(static_cast<char>((h >> 8) & 0xFF));
      bytes.append("\x1b\x0c\x1b\x53");
      break;
    }
    default:
      break;  // no bytes: the result is the output path's
  }
  return SendOutput(station, bytes, false);
}

int32_t CPOSPrinter::SetLogo(int32_t location, const std::string& data) {
  resultCodeExtended_ = 0;
  if (!claimed_.load()) return OPOS_E_NOTCLAIMED;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  if (location != PTR_L_TOP && location != PTR_L_BOTTOM) return SetResult(OPOS_E_ILLEGAL);
  // Logo text is translated once, without binary conversion; any length.
  std::string logo;
  PrintProperties props = Snapshot();
  props.BinaryConversion = OPOS_BC_NONE;
  std::string text(data);
  Utf8ToCodeTable(props.CodeTable, text);
  const int32_t rc = TranslatePrintData(*printerProfile_.translation, props, xlate_, text, logo);
  if (rc != OPOS_SUCCESS) return SetResult(rc);
  (location == PTR_L_TOP ? xlate_.strTopLogo : xlate_.strBottomLogo) = std::move(logo);
  return SetResult(OPOS_SUCCESS);
}

int32_t CPOSPrinter::ValidateData(int32_t, const std::string& data) {
  resultCodeExtended_ = 0;
  if (!claimed_.load()) return OPOS_E_NOTCLAIMED;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  return SetResult(ValidatePrintData(*printerProfile_.translation, Snapshot(), xlate_, data));
}

int32_t CPOSPrinter::TransactionPrint(int32_t station, int32_t control) {
  if (!claimed_.load()) return OPOS_E_NOTCLAIMED;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  if (station != PTR_S_RECEIPT) {
    resultCodeExtended_ = 0;
    return SetResult(OPOS_E_ILLEGAL);
  }
  switch (control) {
    case PTR_TP_TRANSACTION:
      output_.BeginTransaction();
      return SetResult(OPOS_SUCCESS);
    case PTR_TP_NORMAL: {
      const COutputPath::Result r = output_.FlushTransaction();
      resultCodeExtended_ = r.extended;
      return SetResult(r.code);
    }
    default:
      return SetResult(OPOS_E_ILLEGAL);
  }
}

// No slip station: there is never an insertion or removal to begin or end.
int32_t CPOSPrinter::BeginInsertion(int32_t) {
  return SetResult(claimed_.load() ? OPOS_E_ILLEGAL : OPOS_E_NOTCLAIMED);
}
int32_t CPOSPrinter::BeginRemoval(int32_t) {
  return SetResult(claimed_.load() ? OPOS_E_ILLEGAL : OPOS_E_NOTCLAIMED);
}
int32_t CPOSPrinter::EndInsertion() {
  return SetResult(claimed_.load() ? OPOS_E_ILLEGAL : OPOS_E_NOTCLAIMED);
}
int32_t CPOSPrinter::EndRemoval() {
  return SetResult(claimed_.load() ? OPOS_E_ILLEGAL : OPOS_E_NOTCLAIMED);
}

int32_t CPOSPrinter::CheckHealth(int32_t level) {
  resultCodeExtended_ = 0;
  if (!claimed_.load()) return SetResult(OPOS_E_NOTCLAIMED);
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  switch (level) {
    case OPOS_CH_INTERNAL:
      checkHealthText_ = "Last check was internal.";
      return HealthCheckAndPrint(nullptr);
    case OPOS_CH_EXTERNAL:
      checkHealthText_ = "Last check was external.";
      return HealthCheckAndPrint(printerProfile_.health->externalText);
    case OPOS_CH_INTERACTIVE: {
      checkHealthText_ = "Last check was interactive.";
      // The last Start press sets the result; without one the earlier result
      // stands, so a check that never ran does not read as a success.
      const bool shown = RunHealthCheckDialog([this] {
        const int32_t rc = HealthCheckAndPrint(printerProfile_.health->interactiveText);
        if (rc != OPOS_SUCCESS) ShowPrinterCannotUse(rc);
      });
      if (!shown) return SetResult(OPOS_E_BUSY);
      return resultCode_.load();
    }
    default:
      return SetResult(OPOS_E_ILLEGAL);
  }
}

int32_t CPOSPrinter::HealthCheckAndPrint(const std::string_view* text) {
  resultCodeExtended_ = 0;
  const int32_t check = output_.PrinterStatus();
  if (check == OPOS_EPTR_COVER_OPEN || check == OPOS_EPTR_REC_EMPTY) {
    resultCodeExtended_ = check;
    return SetResult(OPOS_E_EXTENDED);
  }
  if (check != 0) {
    resultCodeExtended_ = 100003;
    return SetResult(OPOS_E_FAILURE);
  }
  if (text) {
    // ESC @ makes the printer forget its downloaded image.
    bitmaps_.MarkLost();
    for (size_t i = 0; i < std::size(printerProfile_.health->externalText); ++i) {
      if (!output_.WriteDirect(text[i])) {
        resultCodeExtended_ = 100003;
        return SetResult(OPOS_E_FAILURE);
      }
    }
  }
  return SetResult(OPOS_SUCCESS);
}

int32_t CPOSPrinter::DirectIO(int32_t command, int32_t* data, std::string* text) {
  resultCodeExtended_ = 0;
  if (!claimed_.load()) return SetResult(OPOS_E_NOTCLAIMED);
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  if (command == 0) {
    // Raw bytes, unchecked: a printer that is off still takes them, but a
    // write the port refused is not passed off as done.
    if (text && !output_.WriteDirect(*text)) {
      resultCodeExtended_ = 100003;
      return SetResult(OPOS_E_FAILURE);
    }
    return SetResult(OPOS_SUCCESS);
  }
  if (command != 111) return SetResult(OPOS_SUCCESS);
  if (!data || !text) return SetResult(OPOS_E_ILLEGAL);
  char justification = 0x30;
  if (printerProfile_.health->logoJustificationByName) {
    if (*text == "PTR_BM_CENTER")
      justification = 0x31;
    else if (*text == "PTR_BM_RIGHT")
      justification = 0x32;
    else if (*text != "PTR_BM_LEFT")
      return SetResult(OPOS_E_ILLEGAL);
  } else {
    const long value = std::strtol(text->c_str(), nullptr, 10);
    if (value == PTR_BM_RIGHT)
      justification = 0x32;
    else if (value == PTR_BM_CENTER)
      justification = 0x31;
  }
  const char logo = static_cast<char>(*data & 0xFF);
  std::string command111{0x1B, 0x61, justification, 0x1C, 0x70, logo};
  if (printerProfile_.health->logoJustificationByName)
    command111 += "\x30\n";
  else
    command111 += "\x48";
  return SendOutput(PTR_S_RECEIPT, command111, false);
}

}  // namespace opos
