#!/usr/bin/env python3
"""Writes the cohort table and the cohort summary from the sample folders.

Each sample folder holds what the conversion step left there: the
converter's exit status ("exit_status"), its standard error
("converter.log"), and, when it succeeded, the result array and, unless
provenance was turned off, the provenance sidecar. Nothing else is read: the
summary reports what the converter wrote, not a second reading of the inputs.

    cohort_summary.py --result-name helvara_pgx.json --table cohort.tsv \
        --summary cohort_summary.json results/S01 results/S02 ...

The sample id is the folder's name; samples keep the order given.

The table (tab-separated, one line per sample and gene) has the columns
sample, Id, StarAllele, Activity, source, warnings. A missing value is an
empty cell. The warnings cell is a JSON array of the gene's warnings (empty
when the sample has no sidecar). Tab, line feed, carriage return and
backslash inside a cell are written as \\t, \\n, \\r and \\\\.
"""

import argparse
import gzip
import json
import os
import sys
import tempfile

EXIT_STATUS_FILE = "exit_status"
CONVERTER_LOG_FILE = "converter.log"
ERROR_PREFIX = "callset-converter: error: "
TABLE_COLUMNS = ["sample", "Id", "StarAllele", "Activity", "source", "warnings"]


class CohortError(Exception):
    """A sample folder cannot be summarised; the message names the file."""


def provenance_name(result_name):
    """The sidecar's name beside a result file: without ".gz" and ".json", plus ".provenance.json"."""
    base = result_name
    if base.endswith(".gz"):
        base = base[:-3]
    if base.endswith(".json"):
        base = base[:-5]
    return base + ".provenance.json"


def read_json(path):
    opener = gzip.open if path.endswith(".gz") else open
    try:
        with opener(path, "rb") as stream:
            return json.loads(stream.read().decode("utf-8"))
    except FileNotFoundError:
        raise CohortError(f"{path} is missing") from None
    except (OSError, EOFError, UnicodeDecodeError, ValueError) as error:
        raise CohortError(f"{path} cannot be read as JSON: {error}") from None


def read_exit_status(folder):
    path = os.path.join(folder, EXIT_STATUS_FILE)
    try:
        with open(path, encoding="ascii") as stream:
            return int(stream.read().strip())
    except FileNotFoundError:
        raise CohortError(f"{path} is missing: {folder} was not written by the conversion step") from None
    except (OSError, UnicodeDecodeError, ValueError) as error:
        raise CohortError(f"{path} does not hold an exit status: {error}") from None


def failure_reason(folder, status):
    """The converter's error message from its standard error, or what is known without one."""
    path = os.path.join(folder, CONVERTER_LOG_FILE)
    try:
        with open(path, encoding="utf-8", errors="replace") as stream:
            lines = stream.read().splitlines()
    except FileNotFoundError:
        lines = []
    last = next((line for line in reversed(lines) if line.strip()), None)
    # The converter's error line is its last line, on one line (line breaks
    # in it are escaped); an earlier line that looks like one was forged by
    # a value the converter logged.
    if last is not None and last.startswith(ERROR_PREFIX):
        return last[len(ERROR_PREFIX):]
    if status > 128:
        reason = f"the converter was stopped by signal {status - 128}"
    else:
        reason = f"the converter exited with status {status} and printed no error"
    return reason + (f"; its last log line: {last}" if last else "")


def read_sample(folder, result_name):
    """One sample's outcome: ("converted", results, sidecar or None) or ("failed", status, reason)."""
    status = read_exit_status(folder)
    if status != 0:
        return "failed", status, failure_reason(folder, status)

    result_path = os.path.join(folder, result_name)
    results = read_json(result_path)
    if not isinstance(results, list) or not all(isinstance(item, dict) and "Id" in item for item in results):
        raise CohortError(f"{result_path} is not a result array of gene objects")

    sidecar_path = os.path.join(folder, provenance_name(result_name))
    if not os.path.exists(sidecar_path):
        return "converted", results, None
    sidecar = read_json(sidecar_path)
    if (not isinstance(sidecar, dict) or not isinstance(sidecar.get("genes"), list)
            or not isinstance(sidecar.get("unmappedTerms"), list)):
        raise CohortError(f'{sidecar_path} is not a provenance sidecar (no "genes" or "unmappedTerms" list)')
    return "converted", results, sidecar


def table_cell(value):
    if value is None:
        return ""
    text = value if isinstance(value, str) else json.dumps(value, ensure_ascii=False)
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def summarise(folders, result_name):
    """The table lines and the summary document for the sample folders, in their order."""
    lines = ["\t".join(TABLE_COLUMNS)]
    activity_counts = {}  # gene -> {activity or None -> samples}
    unmapped = {}  # term -> samples
    failed = []
    without_provenance = []

    for folder in folders:
        sample = os.path.basename(os.path.normpath(folder))
        outcome = read_sample(folder, result_name)
        if outcome[0] == "failed":
            failed.append({"sample": sample, "exitStatus": outcome[1], "error": outcome[2]})
            continue
        _, results, sidecar = outcome
        provenance = {}
        if sidecar is None:
            without_provenance.append(sample)
        else:
            provenance = {entry.get("Id"): entry for entry in sidecar["genes"] if isinstance(entry, dict)}
            for term in sidecar["unmappedTerms"]:
                samples = unmapped.setdefault(term, [])
                if sample not in samples:
                    samples.append(sample)
        for result in results:
            gene = result["Id"]
            entry = provenance.get(gene, {})
            warnings = entry.get("warnings", []) if sidecar is not None else None
            lines.append("\t".join(table_cell(value) for value in (
                sample, gene, result.get("StarAllele"), result.get("Activity"), entry.get("source"), warnings)))
            counts = activity_counts.setdefault(gene, {})
            counts[result.get("Activity")] = counts.get(result.get("Activity"), 0) + 1

    # Code-point order throughout (Python compares text by code point); an
    # absent activity comes last.
    genes = {
        gene: [{"activity": activity, "samples": count}
               for activity, count in sorted(counts.items(), key=lambda item: (item[0] is None, item[0] or ""))]
        for gene, counts in sorted(activity_counts.items())
    }
    summary = {
        "samples": len(folders),
        "converted": len(folders) - len(failed),
        "failed": len(failed),
        "genes": genes,
        "unmappedTerms": [{"term": term, "samples": samples} for term, samples in sorted(unmapped.items())],
        "failedSamples": failed,
        "samplesWithoutProvenance": without_provenance,
    }
    return lines, summary


def write_atomically(path, text):
    """Writes `text` to `path` by way of a temporary file, so that no half-written file is left."""
    folder = os.path.dirname(path) or "."
    os.makedirs(folder, exist_ok=True)
    descriptor, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(descriptor, "w", encoding="utf-8", newline="\n") as stream:
            stream.write(text)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def main(arguments=None):
    parser = argparse.ArgumentParser(description="Cohort table and summary from converted sample folders.")
    parser.add_argument("--result-name", required=True, help="the result file's name in each folder")
    parser.add_argument("--table", required=True, help="where the cohort table goes")
    parser.add_argument("--summary", required=True, help="where the cohort summary goes")
    parser.add_argument("folders", nargs="+", help="the sample folders, in the sample sheet's order")
    options = parser.parse_args(arguments)
    try:
        lines, summary = summarise(options.folders, options.result_name)
    except CohortError as error:
        print(f"cohort_summary: error: {error}", file=sys.stderr)
        return 1
    write_atomically(options.table, "\n".join(lines) + "\n")
    write_atomically(options.summary, json.dumps(summary, indent=4) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
