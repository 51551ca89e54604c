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
// A NATS JetStream stream can be the case log: JetStreamCases serves one,
// PublishCases appends to one; in a library built without the NATS client
// both throw a FeederError that says so. Every failure is a FeederError
// (InputError for the user's data); nothing here prints or exits.
#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaptureFile.h"
#include "dravfeed/CaseLog.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/CsvCases.h"
#include "dravfeed/FeederError.h"
#include "dravfeed/GeneratedCases.h"
#include "dravfeed/JetStreamAdmin.h"
#include "dravfeed/JetStreamCases.h"
#include "dravfeed/JetStreamPublisher.h"
#include "dravfeed/LiveCsvInput.h"
#include "dravfeed/PacedCases.h"
#include "dravfeed/PipeServer.h"
#include "dravfeed/RecordBuilder.h"
#include "dravfeed/ServeOptions.h"
#include "dravfeed/SocketServer.h"
#include "dravfeed/VariableList.h"
