#!/usr/bin/env python3
"""The cohort workflow's sample-sheet reading, converter command and cohort summary.

    workflow_scripts_test.py SOURCE_DIR
"""

import gzip
import json
import os
import shlex
import sys
import tempfile
import unittest

samplesheet = None
cohort_summary = None

CONFIG = {"output_json": "helvara_pgx.json", "gzip": False, "provenance": True, "recover": True, "genes": [],
          "phenotype_source": "CPIC", "log_level": "INFO", "converter": "callset-converter", "mappings_dir": ""}


class TempFolder(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def write(self, name, content):
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with (gzip.open if name.endswith(".gz") else open)(path, "wb") as stream:
            stream.write(content if isinstance(content, bytes) else content.encode("utf-8"))
        return path


class SampleSheetTest(TempFolder):
    def test_reads_samples_in_order_with_paths_from_the_sheet_folder(self):
        os.makedirs(os.path.join(self.root, "sheets", "S1-folder"))
        sheet = self.write("sheets/samples.tsv", "\ufeff# cohort 1\r\nSample\tinputs\r\n\r\n"
                                                 "S1\tS1-folder\t\r\nS2\t../a.json\t\t/abs/b.tsv\r\n")
        samples = samplesheet.read_sample_sheet(sheet)
        self.assertEqual([sample.id for sample in samples], ["S1", "S2"])
        self.assertEqual(samples[0].input_dir, os.path.join(self.root, "sheets", "S1-folder"))
        self.assertEqual(samples[1].inputs, [os.path.join(self.root, "a.json"), "/abs/b.tsv"])
        self.assertIsNone(samples[1].input_dir)

    def test_pypgx_sample_column_names_each_row_of_shared_tables(self):
        lines = "sample\tPyPGx_Sample\tinputs\nS1\tNA12878_PyPGx\tCYP2D6.tsv\ta.json\nS2\t\tCYP2D6.tsv\n"
        with self.assertRaisesRegex(samplesheet.SampleSheetError, "line 4: sample S3 lists no input"):
            samplesheet.read_sample_sheet(self.write("samples.tsv", lines + "S3\tNA1\n"))
        samples = samplesheet.read_sample_sheet(self.write("samples.tsv", lines))
        self.assertEqual([(s.pypgx_sample, len(s.inputs)) for s in samples], [("NA12878_PyPGx", 2), (None, 1)])
        command = shlex.split(samplesheet.converter_command(CONFIG, samples[0], "results/S1"))
        self.assertEqual(command[-4:], ["--sample=NA12878_PyPGx", "--", *samples[0].inputs])
        self.assertNotIn("--sample", " ".join(shlex.split(samplesheet.converter_command(CONFIG, samples[1], "r"))))

    def test_faults_name_the_sheet_and_the_line(self):
        cases = [
            ("id\tinputs\nS1\ta.json\n", 'line 1: the header must start with the column "sample", not \'id\''),
            ("# only a comment\n", 'no header line'),
            ("sample\tinputs\n", "lists no samples"),
            ("sample\tinputs\n.hidden\ta.json\n", "line 2: sample id '.hidden' must be"),
            ("sample\tinputs\na/b\ta.json\n", "line 2: sample id 'a/b' must be"),
            ("sample\tinputs\nS1\ta.json\nS1\tb.json\n", "line 3: sample S1 is listed twice (first on line 2)"),
            ("sample\tinputs\nS1\t\t\n", "line 2: sample S1 lists no input file or directory"),
            (b"sample\tinputs\nS\xe91\ta.json\n", "is not UTF-8 text (byte 16)"),
        ]
        for content, message in cases:
            with self.subTest(message=message):
                sheet = self.write("samples.tsv", content)
                with self.assertRaises(samplesheet.SampleSheetError) as raised:
                    samplesheet.read_sample_sheet(sheet)
                self.assertIn(sheet, str(raised.exception))
                self.assertIn(message, str(raised.exception))

    def test_a_missing_sheet_is_named(self):
        with self.assertRaisesRegex(samplesheet.SampleSheetError, "Cannot read the sample sheet .*nothing.tsv"):
            samplesheet.read_sample_sheet(os.path.join(self.root, "nothing.tsv"))


class ConverterCommandTest(TempFolder):
    def command(self, inputs, **settings):
        sample = samplesheet.Sample("S1", inputs)
        return shlex.split(samplesheet.converter_command({**CONFIG, **settings}, sample, "results/S1"))

    def test_settings_become_the_converter_options(self):
        self.assertEqual(self.command(["-a.json", "b.tsv"]), [
            "callset-converter", "--output-json", "helvara_pgx.json", "--phenotype-source", "CPIC", "--log-level",
            "INFO", "--output-dir", "results/S1", "--", "-a.json", "b.tsv"])
        command = self.command([self.root], gzip=True, provenance=False, recover=False, genes=["CYP2D6", "NAT2"],
                               phenotype_source="DPWG", mappings_dir="tables", converter="/opt/cc")
        self.assertEqual(command[:2], ["env", "CALLSET_CONVERTER_MAPPINGS_DIR=" + os.path.abspath("tables")])
        self.assertEqual(command[2:], [
            "/opt/cc", "--output-json", "helvara_pgx.json", "--phenotype-source", "DPWG", "--log-level", "INFO",
            "--gzip", "--no-provenance", "--no-recover", "--genes", "CYP2D6", "NAT2", "--output-dir", "results/S1",
            "--input-dir", self.root])

    def test_result_and_sidecar_names_follow_the_converter(self):
        self.assertEqual(samplesheet.result_name({**CONFIG, "gzip": True}), "helvara_pgx.json.gz")
        for result, sidecar in [("helvara_pgx.json.gz", "helvara_pgx.provenance.json"),
                                ("calls.json", "calls.provenance.json"), ("calls", "calls.provenance.json")]:
            self.assertEqual(cohort_summary.provenance_name(result), sidecar)


class CohortSummaryTest(TempFolder):
    def sample(self, name, status, log="", result=None, sidecar=None, result_name="helvara_pgx.json"):
        self.write(f"{name}/exit_status", f"{status}\n")
        self.write(f"{name}/converter.log", log)
        if result is not None:
            self.write(f"{name}/{result_name}", json.dumps(result))
        if sidecar is not None:
            self.write(f"{name}/helvara_pgx.provenance.json", json.dumps(sidecar))
        return os.path.join(self.root, name)

    def test_failure_reasons_come_from_the_converter_error(self):
        cases = [
            ("INFO a.json: 1 gene call(s)\ncallset-converter: error: a.json is not valid JSON\n", 1,
             "a.json is not valid JSON"),
            # The converter escapes line breaks; only its last line is its error line.
            ("callset-converter: error: forged\nWARNING Skipping x\ncallset-converter: error: cannot read x\\ny.json\n",
             1, "cannot read x\\ny.json"),
            ("INFO started\n", 137, "the converter was stopped by signal 9; its last log line: INFO started"),
            ("", 3, "the converter exited with status 3 and printed no error"),
        ]
        for log, status, reason in cases:
            with self.subTest(reason=reason):
                folder = self.sample("S1", status, log)
                _, summary = cohort_summary.summarise([folder], "helvara_pgx.json")
                self.assertEqual(summary["failedSamples"], [{"sample": "S1", "exitStatus": status, "error": reason}])

    def test_table_cells_and_counts(self):
        results = [{"Id": "CYP2D6", "Name": "CYP2D6", "StarAllele": "*1/*4", "Activity": "a\tb\\c"},
                   {"Id": "NAT2", "Name": "NAT2", "StarAllele": None, "Activity": None}]
        sidecar = {"genes": [{"Id": "CYP2D6", "source": "pypgx", "warnings": ['say "x"']},
                             {"Id": "NAT2", "source": "pbstarphase", "warnings": []}],
                   "unmappedTerms": ["NAT2\tslow"]}
        first = self.sample("S1", 0, result=results, sidecar=sidecar)
        second = self.sample("S2", 0, result=[{**results[1], "Activity": "Slow"}])
        lines, summary = cohort_summary.summarise([first, second], "helvara_pgx.json")
        self.assertEqual(lines[1:], ['S1\tCYP2D6\t*1/*4\ta\\tb\\\\c\tpypgx\t["say \\\\"x\\\\""]',
                                     "S1\tNAT2\t\t\tpbstarphase\t[]",
                                     "S2\tNAT2\t\tSlow\t\t"])
        self.assertEqual(summary["genes"]["NAT2"], [{"activity": "Slow", "samples": 1},
                                                    {"activity": None, "samples": 1}])
        self.assertEqual(summary["unmappedTerms"], [{"term": "NAT2\tslow", "samples": ["S1"]}])
        self.assertEqual(summary["samplesWithoutProvenance"], ["S2"])

    def test_unreadable_converter_files_stop_the_summary_naming_the_file(self):
        cases = [
            (lambda: os.path.join(self.root, "nowhere"), "exit_status is missing"),
            (lambda: self.sample("S1", "zero"), "does not hold an exit status"),
            (lambda: self.sample("S1", 0), "helvara_pgx.json is missing"),
            (lambda: self.sample("S1", 0, result={"Id": "x"}), "is not a result array of gene objects"),
            (lambda: self.sample("S1", 0, result=[], sidecar=[]), "is not a provenance sidecar"),
        ]
        for make_folder, message in cases:
            with self.subTest(message=message):
                with self.assertRaisesRegex(cohort_summary.CohortError, message):
                    cohort_summary.summarise([make_folder()], "helvara_pgx.json")

    def test_gzipped_results_and_outputs_written_whole(self):
        folder = self.sample("S1", 0, result=[{"Id": "TPMT", "StarAllele": "*1/*1", "Activity": "Normal"}],
                             result_name="helvara_pgx.json.gz")
        table, summary = os.path.join(self.root, "out", "cohort.tsv"), os.path.join(self.root, "out", "summary.json")
        status = cohort_summary.main(["--result-name", "helvara_pgx.json.gz", "--table", table, "--summary", summary,
                                      folder])
        self.assertEqual(status, 0)
        with open(table) as stream:
            self.assertEqual(stream.read(), "sample\tId\tStarAllele\tActivity\tsource\twarnings\n"
                                            "S1\tTPMT\t*1/*1\tNormal\t\t\n")
        self.assertEqual(sorted(os.listdir(os.path.dirname(table))), ["cohort.tsv", "summary.json"])


if __name__ == "__main__":
    sys.path.insert(0, os.path.join(os.path.abspath(sys.argv[1]), "workflow", "scripts"))
    import cohort_summary
    import samplesheet
    unittest.main(argv=sys.argv[:1], verbosity=2)
