#!/usr/bin/env python3
"""Checks JSON documents against a JSON Schema (draft 2020-12).

validate_json.py SCHEMA DOCUMENT...: prints every error, one a line, and
exits 1 when there is any (the schema itself is checked first).
"""
import json
import sys

import jsonschema


def main():
    with open(sys.argv[1]) as schema_file:
        schema = json.load(schema_file)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    failed = False
    for path in sys.argv[2:]:
        with open(path) as document:
            for error in validator.iter_errors(json.load(document)):
                print(f"{path}: {error.json_path}: {error.message}")
                failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
