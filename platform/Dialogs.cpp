#include "platform/Dialogs.h"

#include "platform/Errors.h"

#include <new>

#include <stdexcept>

namespace {
IDialogService* g_service = nullptr;
}

QString messageDialogCaption(TMsgDlgType kind) {
  switch (kind) {
  case TMsgDlgType::mtWarning: return QStringLiteral("Warning");
  case TMsgDlgType::mtError: return QStringLiteral("Error");
  case TMsgDlgType::mtInformation: return QStringLiteral("Information");
  case TMsgDlgType::mtConfirmation: return QStringLiteral("Confirm");
  case TMsgDlgType::mtCustom: break;
  }
  return QString();
}

IDialogService& Dialogs() {
  if (!g_service)
    throw std::logic_error("no dialog service installed");
  return *g_service;
}

IDialogService* setDialogService(IDialogService* service) {
  IDialogService* previous = g_service;
  g_service = service;
  return previous;
}

QString currentExceptionMessage() {
  try {
    throw;
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::bad_alloc&) {
    return QStringLiteral("Out of memory");
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

void ShowCurrentException() { Dialogs().ShowError(errorDisplayText(currentExceptionMessage())); }

void TErrorsOnce::ShowCurrent() {
  const QString message = currentExceptionMessage();
  if (FShown.contains(message))
    return;
  FShown.append(message);
  ShowCurrentException();
}

void runEventHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    ShowCurrentException();
  }
}
