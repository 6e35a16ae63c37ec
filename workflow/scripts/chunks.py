#!/usr/bin/env python3
"""The workflow's chunks: sample sheets for the converter's cohort runs, and each
sample's folder taken from its chunk's output.

    chunks.py sheet --samples SHEET --chunk-size N --chunk K --output CHUNK_SHEET
    chunks.py split --chunk-dir DIR --sample S --output FOLDER

A chunk is K-th run of N samples of the sheet, in sheet order. Its sheet lists
the samples as the workflow's sheet does, with paths taken from the chunk
sheet's own folder, so that the converter names every input as a run of one
sample would.

A chunk's folder holds what the cohort run left: its standard error
("converter.log", every line of a sample marked "[<sample>] "), its exit
status ("exit_status"), "cohort-status.tsv" and one folder per converted
sample. The sample's folder gets its files, its own log lines with the mark
removed ("converter.log", as a run of that sample alone writes it) and its
exit status ("exit_status": 0 converted, 1 failed); the paths of its files in
its lines are those of the sample's folder. When the cohort run
itself failed before writing its status file, every sample of the chunk gets
the run's log and exit status.
"""

import argparse
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from samplesheet import read_sample_sheet  # noqa: E402

LEVELS = ("DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL", "NOTSET")
STATUS_FILE = "cohort-status.tsv"


def chunk_of(samples, chunk_size, chunk):
    return samples[chunk * chunk_size:(chunk + 1) * chunk_size]


def write_sheet(options):
    samples = chunk_of(read_sample_sheet(options.samples), options.chunk_size, options.chunk)
    folder = os.path.dirname(os.path.abspath(options.output))
    os.makedirs(folder, exist_ok=True)
    lines = ["sample\tpypgx_sample"]
    for sample in samples:
        entries = [os.path.relpath(os.path.abspath(path), folder) for path in sample.inputs]
        lines.append("\t".join([sample.id, sample.pypgx_sample or "", *entries]))
    with open(options.output, "w", encoding="utf-8", newline="\n") as stream:
        stream.write("\n".join(lines) + "\n")


def sample_log(log_text, sample):
    """The lines of `sample` in a cohort run's log, without their mark."""
    mark = f"[{sample}] "
    marked = re.compile(r"(?:(" + "|".join(LEVELS) + r") )?" + re.escape(mark))
    lines = []
    for line in log_text.splitlines(keepends=True):
        found = marked.match(line)
        if found:
            lines.append((found.group(1) + " " if found.group(1) else "") + line[found.end():])
    return "".join(lines)


def read_statuses(chunk_dir):
    path = os.path.join(chunk_dir, STATUS_FILE)
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as stream:
        rows = [line.rstrip("\n").split("\t") for line in stream][1:]
    return {row[0]: row[1] for row in rows if row}


def split(options):
    with open(os.path.join(options.chunk_dir, "converter.log"), encoding="utf-8", errors="surrogateescape") as stream:
        log_text = stream.read()
    with open(os.path.join(options.chunk_dir, "exit_status"), encoding="ascii") as stream:
        run_status = int(stream.read().strip())
    statuses = read_statuses(options.chunk_dir)
    os.makedirs(options.output, exist_ok=True)
    if statuses is None or options.sample not in statuses:
        status, log = run_status or 1, log_text
    else:
        status, log = (0 if statuses[options.sample] == "ok" else 1), sample_log(log_text, options.sample)
        converted = os.path.join(options.chunk_dir, options.sample)
        # The lines name the files where a run of the sample alone puts them.
        log = log.replace(converted + "/", os.path.join(options.output, ""))
        if status == 0 and os.path.isdir(converted):
            for name in sorted(os.listdir(converted)):
                target = os.path.join(options.output, name)
                try:
                    os.link(os.path.join(converted, name), target)
                except OSError:
                    shutil.copy2(os.path.join(converted, name), target)
    with open(os.path.join(options.output, "converter.log"), "w", encoding="utf-8", errors="surrogateescape",
              newline="") as stream:
        stream.write(log)
    with open(os.path.join(options.output, "exit_status"), "w", encoding="ascii") as stream:
        stream.write(f"{status}\n")


def main(arguments=None):
    parser = argparse.ArgumentParser(description="Chunk sheets and sample folders of the cohort workflow.")
    commands = parser.add_subparsers(dest="command", required=True)
    sheet = commands.add_parser("sheet")
    sheet.add_argument("--samples", required=True)
    sheet.add_argument("--chunk-size", type=int, required=True)
    sheet.add_argument("--chunk", type=int, required=True)
    sheet.add_argument("--output", required=True)
    one = commands.add_parser("split")
    one.add_argument("--chunk-dir", required=True)
    one.add_argument("--sample", required=True)
    one.add_argument("--output", required=True)
    options = parser.parse_args(arguments)
    write_sheet(options) if options.command == "sheet" else split(options)
    return 0


if __name__ == "__main__":
    sys.exit(main())
