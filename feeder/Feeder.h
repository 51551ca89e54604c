#pragma once
// The feeder library in one include, for programs that serve cases of their
// own. A feeder of one numeric and one string variable over TCP:
//
//   using namespace drav::feed;
//   VariableList list = VariableList::Parse("id F8 name A12");
//   RecordBuilder builder(list, ByteOrder::kNative);
//   MemoryCases cases(list.RecordBytes());
//   char* record = cases.AddRecord();
//   builder.SetNumber(record, 0, 1);
//   builder.SetString(record, 1, "first");
//   SocketServer server(cases, ByteOrder::kNative, 0, "", ServeOptions());
//   // tell the reader server.Port(), then:
//   server.Serve();  // returns when the reader is done
//
// Serving named pipes is the same with PipeServer and two paths; CSV text
// loads with LoadCsvCases, and a CaseSource of your own can make cases on
// demand (see GeneratedCases). For a live input, serve a CaseLog and fill it
// from another thread (ReadLiveCsv for CSV text as it arrives, FeedPaced,
// or Append and Publish of your own): the servers send each case as soon as
// it is published, and a rewind or a seek reaches every case so far. A
// CaptureWriter keeps what a log receives, CapturedCases serves it again.
// Every failure is a FeederError (InputError for the user's data); nothing
// here prints or exits.
#include "feeder/ByteOrder.h"
#include "feeder/CaptureFile.h"
#include "feeder/CaseLog.h"
#include "feeder/CaseSource.h"
#include "feeder/CsvCases.h"
#include "feeder/FeederError.h"
#include "feeder/GeneratedCases.h"
#include "feeder/LiveCsvInput.h"
#include "feeder/PacedCases.h"
#include "feeder/PipeServer.h"
#include "feeder/RecordBuilder.h"
#include "feeder/ServeOptions.h"
#include "feeder/SocketServer.h"
#include "feeder/VariableList.h"
