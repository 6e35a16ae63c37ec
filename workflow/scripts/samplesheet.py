"""The cohort's sample sheet and the converter command for one sample.

The sheet is tab-separated text. Its first line (after blank lines and lines
starting with "#") is a header whose first column is "sample" (in any case);
every later line names one sample: its id, then either one directory holding
the sample's caller outputs or the caller output files themselves, one per
column. Paths are relative to the sheet's own folder. Empty cells are
skipped, so a sheet saved with trailing tabs reads the same.

When the header names its second column "pypgx_sample" (in any case), each
line's second cell is the name of the sample's row in multi-sample PyPGx
tables (PyPGx names rows as it was told, such as NA12878_PyPGx), passed to
the converter with --sample; an empty cell selects nothing. The inputs then
follow from the third column on.

Errors name the sheet and the line, so that a lab can fix the sheet before
any sample is converted.
"""

import os
import re
import shlex

# Ids become folder names under the results directory: no separators, and no
# leading "." (which would hide the folder and could name "." or "..").
SAMPLE_ID = re.compile(r"[A-Za-z0-9_-][A-Za-z0-9._-]*")

# The optional second header column naming each sample's row in cohort-wide
# PyPGx tables.
PYPGX_SAMPLE_COLUMN = "pypgx_sample"


class SampleSheetError(ValueError):
    """The sample sheet cannot be used; the message names the sheet and the line."""


class Sample:
    """One sample: its id and what the converter reads for it."""

    def __init__(self, sample_id, inputs, pypgx_sample=None):
        self.id = sample_id
        # Paths as the sheet gives them, made relative to the working
        # directory by way of the sheet's folder.
        self.inputs = inputs
        # The sample's row name in multi-sample PyPGx tables, or None.
        self.pypgx_sample = pypgx_sample

    @property
    def input_dir(self):
        """The folder to scan when the sample is given as one directory, else None."""
        if len(self.inputs) == 1 and os.path.isdir(self.inputs[0]):
            return self.inputs[0]
        return None


def read_sample_sheet(path):
    """The samples of the sheet at `path`, in the sheet's order."""
    try:
        with open(path, "rb") as sheet:
            data = sheet.read()
    except OSError as error:
        raise SampleSheetError(f"Cannot read the sample sheet {path}: {error.strerror}") from None
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise SampleSheetError(f"{path} is not UTF-8 text (byte {error.start + 1})") from None

    folder = os.path.dirname(path)
    samples = []
    first_line_of = {}
    header_seen = False
    has_pypgx_column = False
    for number, line in enumerate(text.split("\n"), start=1):
        line = line.rstrip("\r")
        if not line.strip() or line.startswith("#"):
            continue
        cells = [cell.strip() for cell in line.split("\t")]
        where = f"{path}, line {number}"
        if not header_seen:
            if cells[0].lower() != "sample":
                raise SampleSheetError(f'{where}: the header must start with the column "sample", not {cells[0]!r}')
            header_seen = True
            has_pypgx_column = len(cells) > 1 and cells[1].lower() == PYPGX_SAMPLE_COLUMN
            continue
        pypgx_sample = None
        if has_pypgx_column:
            pypgx_sample = (cells[1] if len(cells) > 1 else "") or None
            cells = cells[:1] + cells[2:]
        sample_id, inputs = cells[0], [cell for cell in cells[1:] if cell]
        if not SAMPLE_ID.fullmatch(sample_id):
            raise SampleSheetError(
                f"{where}: sample id {sample_id!r} must be letters, digits, '.', '_' or '-', not starting with '.'")
        if sample_id in first_line_of:
            raise SampleSheetError(f"{where}: sample {sample_id} is listed twice (first on line {first_line_of[sample_id]})")
        if not inputs:
            raise SampleSheetError(f"{where}: sample {sample_id} lists no input file or directory")
        first_line_of[sample_id] = number
        samples.append(Sample(sample_id, [os.path.normpath(os.path.join(folder, entry)) for entry in inputs],
                              pypgx_sample))

    if not header_seen:
        raise SampleSheetError(f'{path}: no header line; the first line must start with the column "sample"')
    if not samples:
        raise SampleSheetError(f"{path} lists no samples")
    return samples


def converter_options(config):
    """The converter's command-line options for the workflow's settings."""
    options = ["--output-json", config["output_json"], "--phenotype-source", config["phenotype_source"],
               "--log-level", config["log_level"]]
    if config["gzip"]:
        options.append("--gzip")
    if not config["provenance"]:
        options.append("--no-provenance")
    if not config["recover"]:
        options.append("--no-recover")
    if config["genes"]:
        # --genes takes every argument up to the next option, so it comes last.
        options += ["--genes", *config["genes"]]
    return options


def converter_command(config, sample, output_dir):
    """The shell command converting `sample` into `output_dir`, quoted for the shell."""
    command = []
    if config["mappings_dir"]:
        command += ["env", "CALLSET_CONVERTER_MAPPINGS_DIR=" + os.path.abspath(config["mappings_dir"])]
    command += [config["converter"], *converter_options(config), "--output-dir", output_dir]
    if sample.pypgx_sample is not None:
        # One argument, so that a name starting with "-" stays a value.
        command.append("--sample=" + sample.pypgx_sample)
    if sample.input_dir is not None:
        command += ["--input-dir", sample.input_dir]
    else:
        # "--" ends the options, so that a file name starting with "-" is read as a file.
        command += ["--", *sample.inputs]
    return shlex.join(command)


def cohort_command(config, sheet, output_dir):
    """The shell command converting the samples of the sheet `sheet` into `output_dir`, quoted for the shell."""
    command = []
    if config["mappings_dir"]:
        command += ["env", "CALLSET_CONVERTER_MAPPINGS_DIR=" + os.path.abspath(config["mappings_dir"])]
    # --genes, last among the options, takes every argument after it.
    command += [config["converter"], "--output-dir", output_dir, "--cohort=" + sheet, *converter_options(config)]
    return shlex.join(command)


def result_name(config):
    """The name of the result file the converter writes in each sample's folder."""
    return config["output_json"] + (".gz" if config["gzip"] else "")
