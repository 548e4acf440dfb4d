// The large document of the parse benchmarks: one TBX element holding 20,000 elements with three
// attributes and a text each, 1.40 MB. bench/python/crypto_baseline.py reads the same bytes from
// the file xml_peak writes, so both sides parse one document.
#ifndef BENCH_DOCUMENT_H
#define BENCH_DOCUMENT_H

#include <cstdio>
#include <string>

inline std::string BenchDocument()
{
  std::string doc = "<TBX MSGTYPE=\"Batch\">\n";
  char line[128];
  for (unsigned i = 0; i < 20000; ++i) {
    std::snprintf(line, sizeof line,
                  "<ITEM ID=\"%05u\" AMOUNT=\"%u\" CUR=\"EUR\">Order %05u &amp; CD</ITEM>\n", i,
                  100 + i * 37 % 90000, i);
    doc += line;
  }
  doc += "</TBX>\n";
  return doc;
}

#endif
