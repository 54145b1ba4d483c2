// Settling a document whose outcome is unknown: one left in progress when the hub stopped, or
// one whose step got no answer. The device's own counters decide; where they cannot, a person
// must, and the hub never guesses.
//
// Terms used below:
// - a command step is any step but a query (an export whose name starts with "Get");
// - a step may have taken effect unless its answer says the device refused it or that it was
//   never sent (EffectOf: Refused, NotSent); an unanswered step may have taken effect;
// - "the last step" is the last command step that may have taken effect.
//
// The rules:
// - No command step may have taken effect: NotRegistered; nothing is asked of the device.
// - "receipt" (fiscal): reads GetBonInfo ("open,items,total") and GetDocNumber (the document
//   counter, which rises when a receipt, fiscal or not, is opened). Without both answers the
//   document stays unsettled; a refused query or a garbled answer needs attention.
//   - counter as before: the receipt was never opened. NotRegistered.
//   - counter before + 1 and a receipt open: ours, still open. VoidAll is sent: executed gives
//     NotRegistered (voided), refused needs attention, no answer leaves it unsettled.
//   - counter before + 1 and none open: the last step decides. EndFiscalBon: Registered, as
//     receipt before + 1. VoidAll: NotRegistered. Anything else: someone else closed it, needs
//     attention.
//   - any other counter, or none recorded before: needs attention.
// - "non-fiscal": reads GetDocNumber (GetBonInfo does not show a non-fiscal receipt open).
//   - counter as before: NotRegistered.
//   - counter before + 1 and the last step EndNonFiscalBon: Registered.
//   - counter before + 1 otherwise: EndNonFiscalBon is sent: executed gives NotRegistered (a
//     partial slip printed, nothing fiscal; closed), refused needs attention, no answer leaves it
//     unsettled.
//   - any other counter, or none recorded before: needs attention.
// - Z report (DayReport mode 0): reads GetLastClosure, the number of the last Z report.
//   - as before: the day was not closed. NotRegistered.
//   - before + 1: Registered, {"zReport": before + 1}.
//   - any other number, or none recorded before: needs attention.
// - Cash in (out): reads GetCurrentSums ("day total,cash in,cash out", each with two decimals)
//   and takes the sum of cash in (out) in hundredths.
//   - as before: NotRegistered.
//   - before + the amount: Registered.
//   - any other sum, or none recorded before: needs attention.
//   An unanswered query leaves a Z report or cash unsettled, a refused one or a garbled answer
//   needs attention, as for receipts.
// - Other kinds, and X and period reports: the device counts neither as a document nor in any
//   sum, so a document whose command may have taken effect needs attention.
//
// Before a document's first step the hub reads the same counter (CounterOf, CounterQuery) and
// the record keeps it as counterBefore. A receipt is never sent without it; a Z report or cash is
// sent without it when the device refused the query or answered it garbled, and an unknown
// outcome then needs attention.
//
// Evidence always holds the counter ("documents", "z-reports", "cash-in", "cash-out" or null),
// counterBefore, the last step (with its answer when it has one), what was read (counterNow,
// open, bonInfo; amount for cash) and what was sent ("sent": each op with its effect).
#pragma once

#include <nlohmann/json.hpp>

#include "device_port.h"
#include "store.h"

namespace hub {

struct Settlement {
  // false: the device did not answer, or the store could not record a command; try again later
  // and send nothing else to the device meanwhile.
  bool settled = false;
  DocState state = DocState::NeedsAttention;
  nlohmann::json result;    // for Registered: what is known, e.g. {"receipt": 18}
  nlohmann::json evidence;  // see above
};

// Settles `doc` as the rules above say. The document's steps are read again from `store`, which
// is the truth; every command sent is recorded there as a further step (StepSending before,
// StepAnswered after), so a second interruption is settled in turn. The caller records the
// settlement (Store::Settle). A document settled already is answered as it stands, with nothing
// sent.
Settlement Reconcile(const DocumentRecord &doc, DevicePort &port, Store &store);

// A counter as the device writes it: decimal digits only, at most nine.
std::optional<int64_t> ParseCounter(const nlohmann::json &out);

// The device's counter that settles a document, read before its first step and again at
// settlement (see the rules above).
enum class Counter {
  None,       // no counter tells
  Documents,  // GetDocNumber
  ZReports,   // GetLastClosure: the number of the last Z report
  CashIn,     // GetCurrentSums "day total,cash in,cash out": the cash in, in hundredths
  CashOut,    // the same, the cash out
};
// By the document's kind and its first command step.
Counter CounterOf(std::string_view kind, std::string_view op, const nlohmann::json &args);
// The query that reads `counter`; empty for None.
std::string_view CounterQuery(Counter counter);
// `counter` out of its query's answer; nothing when garbled.
std::optional<int64_t> ReadCounter(Counter counter, const nlohmann::json &out);

}  // namespace hub
