// Parse throughput of xmlParser beside expat on the same bytes, in the same run.
//
//   Ours/<doc>        xmlParser::parseText building the element tree and releasing it (the text
//                     is first copied into the stream, as every caller does)
//   OursParse/0       the same without the release, which runs outside the timed region (most
//                     of the 1 MiB case goes to freeing the tree's many small blocks)
//   Expat/<doc>       expat with handlers that only count: the tokenizer alone
//   ExpatTree/<doc>   expat with handlers building the same xmlElement tree: shows how much of our
//                     time is the tree rather than the scanner
//
// Documents: "Tbx1MiB", 1 MiB of TBX-style elements under one root, and "HostAnswer", a typical
// answer of the payment host (about 1 KiB).
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdio>
#include <string>

#include "mvstring.h"
#include "xmlElement.h"
#include "xmlParser.h"

namespace {

std::string tbxDocument()
{
  std::string doc = "<TBXLIST>\n";
  char line[640];
  for (unsigned i = 0; doc.size() < (1u << 20) - 700; ++i) {
    std::snprintf(
        line, sizeof line,
        "<TBX MSGTYPE=\"PayInit\" KEYID=\"%04u\" AMOUNT=\"%u\" CURRENCY=\"EUR\" "
        "TOKEN=\"%08x%08x%08x%08x\" EXPIRATION=\"2026-12-09 07:%02u:%02u\" "
        "DESCRIPTION=\"Order %u: books &amp; CDs\" LANGID=\"en\" ALLOWCOLLECT=\"no\" "
        "DELIVERY=\"yes\" SUCCESSLINK=\"https://shop.example/ok?order=%u&amp;s=1\" "
        "BACKLINK=\"https://shop.example/cart\" FAILLINK=\"https://shop.example/fail\"/>\n",
        i % 10000, 100 + i % 90000, i * 2654435761u, ~i, i ^ 0x5a5a5a5au, i * 40503u, i % 60,
        (i / 60) % 60, i, i);
    doc += line;
  }
  doc += "</TBXLIST>\n";
  return doc;
}

std::string hostAnswer()
{
  return "<TBX MSGTYPE=\"SetupResponse\" VERSION=\"1\" RESULT=\"0\" "
         "VTURL=\"https://host.example/pay\" VTAUTOURL=\"https://host.example/auto\" "
         "CAPTUREURL=\"https://host.example/capture\" CUSTOMERID=\"401234\" VTKEYID=\"0007\">\n"
         "  <KEY ID=\"0007\" ALG=\"RSA\">30819f300d06092a864886f70d010101050003818d0030818902818100"
         "c3a1b2f8e47d9a0c6b5e3f1d2a4c8b7e9f0a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f6071829"
         "3a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f6071829203010001</KEY>\n"
         "  <DEFAULTS LANGID=\"de\" ALLOWCOLLECT=\"no\" DELIVERY=\"yes\" PAYINITTTL=\"86400\"/>\n"
         "  <MESSAGE LANG=\"en\">Configuration for merchant 401234 &amp; its stores.</MESSAGE>\n"
         "  <MESSAGE LANG=\"de\">Konfiguration f\xC3\xBCr H\xC3\xA4ndler 401234.</MESSAGE>\n"
         "</TBX>\n";
}

const std::string& document(int which)
{
  static const std::string docs[] = {tbxDocument(), hostAnswer()};
  return docs[which];
}

// Parses the document into a tree each iteration; `timeFree`: the tree's release is timed too.
void ParseIntoTree(benchmark::State& state, bool timeFree)
{
  const std::string& text = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MvStringStream in;
    in.write(text.data(), static_cast<unsigned>(text.size()));
    xmlElement* doc = nullptr;
    if (xmlParser::parseText(in, &doc) != 0) {
      state.SkipWithError("parse failed");
      break;
    }
    if (!timeFree)
      state.PauseTiming();
    doc->release();
    if (!timeFree)
      state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

void Ours(benchmark::State& state)
{
  ParseIntoTree(state, true);
}

void OursParse(benchmark::State& state)
{
  ParseIntoTree(state, false);
}

struct Counts
{
  long elements = 0, attributes = 0, text = 0;
};

void XMLCALL countStart(void* data, const XML_Char*, const XML_Char** atts)
{
  Counts* c = static_cast<Counts*>(data);
  ++c->elements;
  for (; *atts; atts += 2)
    ++c->attributes;
}
void XMLCALL countEnd(void*, const XML_Char*) {}
void XMLCALL countText(void* data, const XML_Char*, int len)
{
  static_cast<Counts*>(data)->text += len;
}

void Expat(benchmark::State& state)
{
  const std::string& text = document(static_cast<int>(state.range(0)));
  Counts counts;
  for (auto _ : state) {
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &counts);
    XML_SetElementHandler(p, countStart, countEnd);
    XML_SetCharacterDataHandler(p, countText);
    if (XML_Parse(p, text.data(), static_cast<int>(text.size()), 1) != XML_STATUS_OK) {
      state.SkipWithError("expat failed");
      XML_ParserFree(p);
      break;
    }
    XML_ParserFree(p);
  }
  benchmark::DoNotOptimize(counts);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

struct TreeBuild
{
  xmlElement* doc = nullptr;
  xmlElement* current = nullptr;
  std::string text;
};

void XMLCALL treeStart(void* data, const XML_Char* name, const XML_Char** atts)
{
  TreeBuild* t = static_cast<TreeBuild*>(data);
  if (!t->text.empty())
    t->current->setText(MvString(t->text.data(), static_cast<unsigned>(t->text.size())));
  t->text.clear();
  xmlElement* e = nullptr;
  xmlParser::createElement(name, &e);
  for (; *atts; atts += 2)
    e->setAttribute(atts[0], atts[1]);
  t->current->insertChild(e);
  e->release();
  t->current = e;
}
void XMLCALL treeEnd(void* data, const XML_Char*)
{
  TreeBuild* t = static_cast<TreeBuild*>(data);
  if (!t->text.empty())
    t->current->setText(MvString(t->text.data(), static_cast<unsigned>(t->text.size())));
  t->text.clear();
  xmlElement* parent = nullptr;
  t->current->getParent(&parent);
  parent->release();  // still held by its own parent or by the builder
  t->current = parent;
}
void XMLCALL treeText(void* data, const XML_Char* s, int len)
{
  static_cast<TreeBuild*>(data)->text.append(s, static_cast<size_t>(len));
}

void ExpatTree(benchmark::State& state)
{
  const std::string& text = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TreeBuild t;
    xmlParser::createElement(MvString(), &t.doc);
    t.current = t.doc;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &t);
    XML_SetElementHandler(p, treeStart, treeEnd);
    XML_SetCharacterDataHandler(p, treeText);
    const bool ok = XML_Parse(p, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    t.doc->release();
    if (!ok) {
      state.SkipWithError("expat failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

void docs(benchmark::internal::Benchmark* b)
{
  b->ArgName("doc")->Arg(0)->Arg(1);
}

BENCHMARK(Ours)->Apply(docs);
BENCHMARK(OursParse)->ArgName("doc")->Arg(0);
BENCHMARK(Expat)->Apply(docs);
BENCHMARK(ExpatTree)->Apply(docs);

}  // namespace

BENCHMARK_MAIN();
