#!/usr/bin/env python3
"""Runs the cohort workflow on 20 samples made from examples/, one of them broken, in chunks of 7,
1 and 500 samples.

    cohort_workflow_test.py CONVERTER SOURCE_DIR

Checks every sample's files against the converter run directly on the same
inputs, the broken sample's isolation, the cohort table and the summary.
Exits 77 (skipped) when snakemake is not installed.
"""

import functools
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SKIPPED = 77
CONVERTER = ""
SOURCE_DIR = ""

UNMAPPED_UPLOAD = "Gene,Diplotype,Phenotype\nCYP2C19,*1/*2,Likely Slow Metabolizer\nCYP2C9,*1/*1,Normal Metabolizer\n"
BROKEN_SAMPLE = "S07"
CHUNK_SIZES = [7, 1, 500]
CONFIG = """\
results: results
gzip: true
phenotype_source: DPWG
mem_mb: 512
retries: 0
"""


def cohort_inputs(examples, scratch):
    """Sample id -> its sheet entries (relative to the sheet in `scratch`)."""
    examples = os.path.relpath(examples, scratch)
    with open(os.path.join(scratch, "unmapped.csv"), "w") as stream:
        stream.write(UNMAPPED_UPLOAD)
    with open(os.path.join(scratch, "broken.report.json"), "w") as stream:
        stream.write('{"genes": {"CYP2C19": ')

    def example(*names):
        return [os.path.join(examples, name) for name in names]

    samples = {}
    for number in range(1, 21):
        sample = f"S{number:02d}"
        if sample == BROKEN_SAMPLE:
            samples[sample] = ["broken.report.json", *example("upload.csv")]
        elif number <= 5:
            samples[sample] = [examples]
        elif number <= 10:
            samples[sample] = example("HG002.pharmcat.report.json", "HG002.pbstarphase.json")
        elif number <= 14:
            samples[sample] = example("HG002.pbstarphase.tsv", "CYP2D6.tsv")
        elif number <= 17:
            samples[sample] = ["unmapped.csv"]
        else:
            samples[sample] = example("upload.csv")
    return samples


def read_json(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as stream:
        return json.loads(stream.read().decode("utf-8"))


class CohortWorkflowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="cohort-workflow-")
        cls.samples = cohort_inputs(os.path.join(SOURCE_DIR, "examples"), cls.scratch)
        with open(os.path.join(cls.scratch, "samples.tsv"), "w") as sheet:
            sheet.write("# test cohort\nsample\tinputs\n")
            for sample, entries in cls.samples.items():
                sheet.write("\t".join([sample, *entries]) + "\n")
        with open(os.path.join(cls.scratch, "cohort.yaml"), "w") as stream:
            stream.write(CONFIG)
        cls.runs = {chunk_size: subprocess.run(
            ["snakemake", "-s", os.path.join(SOURCE_DIR, "workflow", "Snakefile"), "--cores", "2", "--keep-going",
             "--configfile", "cohort.yaml", "--config", "samples=samples.tsv", f"converter={CONVERTER}",
             f"results=results-{chunk_size}", f"chunk_size={chunk_size}"],
            cwd=cls.scratch, capture_output=True, text=True, timeout=900) for chunk_size in CHUNK_SIZES}
        cls.workflow = cls.runs[CHUNK_SIZES[0]]
        cls.results = os.path.join(cls.scratch, f"results-{CHUNK_SIZES[0]}")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def converted_samples(self):
        return [sample for sample in self.samples if sample != BROKEN_SAMPLE]

    @classmethod
    @functools.cache
    def direct_conversion(cls, sample):
        """The converter run by hand on the sample's inputs with the workflow's options."""
        output = os.path.join(cls.scratch, "direct", sample)
        entries = [os.path.join(cls.scratch, entry) for entry in cls.samples[sample]]
        where = ["--input-dir", entries[0]] if os.path.isdir(entries[0]) else ["--", *entries]
        subprocess.run([CONVERTER, "--gzip", "--phenotype-source", "DPWG", "--output-dir", output, *where],
                       check=True, capture_output=True)
        return (read_json(os.path.join(output, "helvara_pgx.json.gz")),
                read_json(os.path.join(output, "helvara_pgx.provenance.json")))

    def test_the_run_fails_only_for_the_broken_sample(self):
        output = self.workflow.stdout + self.workflow.stderr
        self.assertNotEqual(self.workflow.returncode, 0, output)
        self.assertIn("Error in rule check_conversion", output)
        self.assertEqual(output.count("Error in rule"), 1, output)
        self.assertIn(f"Sample {BROKEN_SAMPLE}: the converter failed with exit status 1:", output)
        self.assertIn("callset-converter: error: ", output)
        self.assertIn("broken.report.json is not valid JSON", output)

    def test_each_converted_sample_matches_a_direct_run(self):
        for sample in self.converted_samples():
            with self.subTest(sample=sample):
                folder = os.path.join(self.results, sample)
                with open(os.path.join(folder, "exit_status")) as stream:
                    self.assertEqual(stream.read(), "0\n")
                results, sidecar = self.direct_conversion(sample)
                self.assertEqual(read_json(os.path.join(folder, "helvara_pgx.json.gz")), results)
                self.assertEqual(read_json(os.path.join(folder, "helvara_pgx.provenance.json")), sidecar)
                self.assertTrue(os.path.exists(os.path.join(self.results, ".checked", sample)))

    def test_every_chunk_size_gives_the_same_results(self):
        def tree(results):
            # Log lines name the results folder, which differs between the runs.
            name = os.path.basename(results).encode()
            files = {}
            for folder, folders, names in os.walk(results):
                folders[:] = [name for name in folders if not name.startswith(".")]
                for entry in names:
                    path = os.path.join(folder, entry)
                    with open(path, "rb") as stream:
                        data = stream.read()
                    data = gzip.decompress(data) if path.endswith(".gz") else data
                    files[os.path.relpath(path, results)] = data.replace(name, b"results")
            return files

        expected = tree(self.results)
        self.assertEqual(len([name for name in expected if name.endswith("converter.log")]), 20)
        for chunk_size in CHUNK_SIZES[1:]:
            with self.subTest(chunk_size=chunk_size):
                run = self.runs[chunk_size]
                self.assertEqual(run.returncode, self.workflow.returncode, run.stdout + run.stderr)
                self.assertEqual(tree(os.path.join(self.scratch, f"results-{chunk_size}")), expected)

    def test_the_broken_sample_keeps_its_error_and_no_result(self):
        folder = os.path.join(self.results, BROKEN_SAMPLE)
        self.assertEqual(sorted(name for name in os.listdir(folder) if not name.startswith(".")),
                         ["converter.log", "exit_status"])
        with open(os.path.join(folder, "exit_status")) as stream:
            self.assertEqual(stream.read(), "1\n")
        with open(os.path.join(folder, "converter.log")) as stream:
            self.assertIn("broken.report.json is not valid JSON", stream.read())
        self.assertFalse(os.path.exists(os.path.join(self.results, ".checked", BROKEN_SAMPLE)))

    def test_the_cohort_table_has_a_line_per_sample_and_gene(self):
        with open(os.path.join(self.results, "cohort.tsv"), newline="") as stream:
            lines = stream.read().split("\n")
        self.assertEqual(lines[0], "sample\tId\tStarAllele\tActivity\tsource\twarnings")
        self.assertEqual(lines[-1], "")
        expected = []
        for sample in self.converted_samples():
            results, sidecar = self.direct_conversion(sample)
            provenance = {entry["Id"]: entry for entry in sidecar["genes"]}
            for result in results:
                entry = provenance[result["Id"]]
                expected.append("\t".join([sample, result["Id"], result["StarAllele"] or "", result["Activity"] or "",
                                           entry["source"], json.dumps(entry["warnings"], ensure_ascii=False)]))
        self.assertEqual(lines[1:-1], expected)

    def test_setup_faults_stop_the_workflow_before_any_job(self):
        with open(os.path.join(self.scratch, "bad-sheet.tsv"), "w") as sheet:
            sheet.write("sample\tinputs\nS1\tunmapped.csv\nS1\tunmapped.csv\n")
        with open(os.path.join(self.scratch, "missing-file.tsv"), "w") as sheet:
            sheet.write("sample\tinputs\nS1\tunmapped.csv\nS2\tnowhere.json\n")
        cases = [
            (["samples=samples.tsv", f"converter={CONVERTER}", "chunk_size=0"], "chunk_size"),
            (["samples=bad-sheet.tsv", f"converter={CONVERTER}"],
             "bad-sheet.tsv, line 3: sample S1 is listed twice (first on line 2)"),
            (["samples=missing-file.tsv", f"converter={CONVERTER}"], "nowhere.json"),
            (["samples=samples.tsv", "converter=no-such-converter"], "'no-such-converter' is not an executable"),
            (["samples=samples.tsv", f"converter={CONVERTER}", "phenotype_source=NIH"], "phenotype_source"),
        ]
        for settings, message in cases:
            with self.subTest(message=message):
                run = subprocess.run(["snakemake", "-s", os.path.join(SOURCE_DIR, "workflow", "Snakefile"), "--cores",
                                      "1", "--directory", self.scratch, "--config", "results=setup-results", *settings],
                                     capture_output=True, text=True, timeout=300)
                self.assertNotEqual(run.returncode, 0)
                self.assertIn(message, run.stdout + run.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.scratch, "setup-results")))

    def test_the_summary_counts_terms_and_names_unmapped_and_failed_samples(self):
        summary = read_json(os.path.join(self.results, "cohort_summary.json"))
        self.assertEqual((summary["samples"], summary["converted"], summary["failed"]), (20, 19, 1))
        self.assertEqual(summary["unmappedTerms"],
                         [{"term": "CYP2C19\tLikely Slow Metabolizer", "samples": ["S15", "S16", "S17"]}])
        self.assertEqual(len(summary["failedSamples"]), 1)
        failure = summary["failedSamples"][0]
        self.assertEqual((failure["sample"], failure["exitStatus"]), (BROKEN_SAMPLE, 1))
        self.assertIn("broken.report.json is not valid JSON", failure["error"])
        self.assertEqual(summary["samplesWithoutProvenance"], [])

        expected = {}
        for sample in self.converted_samples():
            for result in self.direct_conversion(sample)[0]:
                terms = expected.setdefault(result["Id"], {})
                terms[result["Activity"]] = terms.get(result["Activity"], 0) + 1
        counted = {gene: {entry["activity"]: entry["samples"] for entry in terms}
                   for gene, terms in summary["genes"].items()}
        self.assertEqual(counted, expected)
        self.assertEqual(list(summary["genes"]), sorted(expected))
        # Every CYP2C19 call: 5 whole folders, 5 PharmCAT reports, 4 pbStarPhase tables, and 3 uploads whose
        # term is unmapped (so no activity).
        self.assertEqual(summary["genes"]["CYP2C19"][-1], {"activity": None, "samples": 3})


if __name__ == "__main__":
    if shutil.which("snakemake") is None:
        print("snakemake is not installed: the cohort workflow test is skipped")
        sys.exit(SKIPPED)
    CONVERTER, SOURCE_DIR = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
