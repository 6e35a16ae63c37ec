"""The Python comparison of the benchmark: loads a caller output with
json.load and walks its genes, as a script that reads nothing else would.

    python3 json_load.py FILE
"""
import json
import sys


def genes_of(document):
    """The gene entries of a PharmCAT report or a pbStarPhase summary."""
    if not isinstance(document, dict):
        return []
    found = []
    for container in ("genes", "geneReports", "gene_details"):
        value = document.get(container)
        if isinstance(value, dict):
            for entry in value.values():
                found.extend(entry.values() if container == "genes" and isinstance(entry, dict) else [entry])
    return found


def main():
    with open(sys.argv[1], encoding="utf-8") as handle:
        document = json.load(handle)
    print(len(genes_of(document)))


if __name__ == "__main__":
    main()
