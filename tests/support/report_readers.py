"""Reads quorvel-view's reports with real consumers and prints what they saw,
one line at a time, for the tests to compare.

    report_readers.py json SCHEMA REPORT   validates REPORT against SCHEMA
                                           (jsonschema), then prints it
    report_readers.py junit REPORT         reads REPORT with junitparser
    report_readers.py gradescope SCHEMA REPORT
                                           validates REPORT against SCHEMA,
                                           then prints its scores
"""
import json
import sys


def validated(schema_path, report_path):
    """The report, once jsonschema has found it valid against the schema."""
    import jsonschema

    with open(schema_path, encoding="utf-8") as schema_file:
        schema = json.load(schema_file)
    with open(report_path, encoding="utf-8") as report_file:
        report = json.load(report_file)
    jsonschema.validate(report, schema)
    print("valid")
    return report


def read_json(schema_path, report_path):
    report = validated(schema_path, report_path)
    for program in report["programs"]:
        print(program["program"], program["status"], program["exit"])
        if "where" in program:
            where = program["where"]
            print("  where", where["file"], where["line"], where["function"])
        for box in program["boxes"]:
            print(" ", box["number"], json.dumps(box["passed"]), json.dumps(box["text"]))
    summary = report["summary"]
    print("summary", *(summary[key] for key in ("programs", "checks", "passed", "failed", "errors")))


def read_junit(report_path):
    from junitparser import JUnitXml

    report = JUnitXml.fromfile(report_path)
    for suite in report:
        print(suite.name, suite.tests, suite.failures, suite.errors)
        timed = suite.time is not None and suite.time >= 0 and suite.timestamp
        print("  time", "set" if timed else "missing", "cases", *sorted({str(case.time) for case in suite}))
        for case in suite:
            results = [type(result).__name__.lower() for result in case.result]
            print(" ", json.dumps(case.name), " ".join(results) or "passed")
            if case._elem.get("file"):
                print("    at", case._elem.get("file"), case._elem.get("line"))


def read_gradescope(schema_path, report_path):
    report = validated(schema_path, report_path)
    for test in report["tests"]:
        print(test["name"], test["status"], test["score"], "of", test["max_score"])
    print("score", report["score"], "of", len(report["tests"]))


if __name__ == "__main__":
    if sys.argv[1] == "json":
        read_json(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "gradescope":
        read_gradescope(sys.argv[2], sys.argv[3])
    else:
        read_junit(sys.argv[2])
