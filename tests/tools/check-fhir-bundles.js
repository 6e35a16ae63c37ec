#!/usr/bin/env node
// Checks FHIR Bundles written by callset-converter offline: each against the
// FHIR R4 JSON Schema, then against the Genomics Reporting (STU3) rules the
// converter follows, written in FHIRPath, then every narrative as strict
// XML. A Bundle with its result and sidecar beside it (X.fhir.json,
// X.json[.gz], X.provenance.json) is also read against them: every gene
// reported where its result is read, with its warnings as notes. Prints
// every failure with its file and exits 1 when there is any.
// Usage: check-fhir-bundles.js BUNDLE.json...
'use strict';
const fs = require('fs');
const zlib = require('zlib');
const sax = require('sax');
const JSONSchemaValidator = require('@asymmetrik/fhir-json-schema-validator');
const fhirpath = require('fhirpath');
const r4 = require('fhirpath/fhir-context/r4');

const IG = 'http://hl7.org/fhir/uv/genomics-reporting/StructureDefinition/';
const V2_0074 = "system = 'http://terminology.hl7.org/CodeSystem/v2-0074' and code = 'GE'";
const LAB = "system = 'http://terminology.hl7.org/CodeSystem/observation-category' and code = 'laboratory'";
const loinc = (code) => `coding.where(system = 'http://loinc.org' and code = '${code}').exists()`;
const observations = (profile) => `Bundle.entry.resource.ofType(Observation).where(meta.profile contains '${IG}${profile}')`;

// [what the rule asks, FHIRPath expression that must give true]
const RULES = [
  ['Bundle.type is collection', "Bundle.type = 'collection'"],
  ['every fullUrl is a urn:uuid', "Bundle.entry.all(fullUrl.startsWith('urn:uuid:'))"],
  ['fullUrls are distinct', 'Bundle.entry.fullUrl.isDistinct()'],
  ['one Patient', 'Bundle.entry.resource.ofType(Patient).count() = 1'],
  ['one genomic-report with LOINC 51969-4 and category GE',
    `Bundle.entry.resource.ofType(DiagnosticReport).where(meta.profile contains '${IG}genomic-report' and ` +
    `code.${loinc('51969-4')} and category.coding.where(${V2_0074}).exists() and issued.exists()).count() = 1`],
  ['every Observation is a genotype or a therapeutic-implication',
    `Bundle.entry.resource.ofType(Observation).count() = ${observations('genotype')}.count() + ` +
    `${observations('therapeutic-implication')}.count()`],
  ['every Observation has both categories (laboratory, GE)',
    `Bundle.entry.resource.ofType(Observation).all(category.coding.where(${LAB}).exists() and ` +
    `category.coding.where(${V2_0074}).exists())`],
  ['genotypes: code 84413-4, a value and a gene-studied (48018-6) component',
    `${observations('genotype')}.all(code.${loinc('84413-4')} and value.exists() and ` +
    `component.where(code.${loinc('48018-6')} and value.exists()).exists())`],
  ['therapeutic implications: derivedFrom present, value empty, a therapeutic-implication component',
    `${observations('therapeutic-implication')}.all(derivedFrom.exists() and value.empty() and ` +
    "component.where(code.coding.code = 'therapeutic-implication' and value.exists()).exists())"],
  ['the report lists every Observation',
    'Bundle.entry.resource.ofType(DiagnosticReport).result.count() = Bundle.entry.resource.ofType(Observation).count()'],
  ['a Provenance targets the report',
    'Bundle.entry.resource.ofType(Provenance).target.reference contains ' +
    "Bundle.entry.where(resource is DiagnosticReport).fullUrl.first()"],
  ['no PharmVar coding: its codes name alleles, not genes or genotypes',
    "Bundle.entry.resource.descendants().where(system = 'http://www.pharmvar.org').empty()"],
  ['genotypes are coded only as GL Strings of alleles with two fields or more',
    `${observations('genotype')}.value.coding.all(system = 'http://glstring.org' and ` +
    "code.matches('^(HLA-[A-Z0-9]+\\\\*[0-9]+(:[0-9]+)+)\\\\+(HLA-[A-Z0-9]+\\\\*[0-9]+(:[0-9]+)+)$'))"],
  ['every resource has a generated narrative',
    "Bundle.entry.resource.all(text.status = 'generated' and text.`div`.exists())"],
  ['inputs are named by base name and urn:sha256 identifier',
    "Bundle.entry.resource.ofType(Provenance).entity.what.where(identifier.exists()).all(" +
    "identifier.system = 'urn:ietf:rfc:3986' and identifier.value.matches('^urn:sha256:[0-9a-f]{64}$') and " +
    "display.contains('/').not())"],
  ['no entity with a null value', "Bundle.entry.resource.ofType(Provenance).entity.what.display.all(endsWith(' null').not())"],
];

const XHTML = 'http://www.w3.org/1999/xhtml';
// What a narrative must never hold: control characters (XML 1.0 cannot
// carry most of them; none belongs in a value shown to a reader).
const CONTROL = /[\u0000-\u001f\u007f-\u009f\ufffe\uffff]/;

// The faults of one narrative div: not well-formed XML (a raw "<" or "&"
// from an input), not an XHTML div, or a control character.
function divFaults(div) {
  const faults = [];
  if (CONTROL.test(div)) faults.push('holds a control character');
  const parser = sax.parser(true, { xmlns: true });
  let root = null;
  parser.onerror = (error) => {
    throw error;  // the first fault ends the parse
  };
  parser.onopentag = (node) => {
    if (root === null) root = node;
  };
  try {
    parser.write(div).close();
  } catch (error) {
    return [...faults, `not well-formed XML: ${error.message.split('\n')[0]}`];
  }
  if (root === null || root.local !== 'div' || root.uri !== XHTML) faults.push('the root is not an XHTML div');
  return faults;
}

const geneOf = (observation) => {
  const gene = (observation.component || [])[0]?.valueCodeableConcept;
  return gene?.coding?.[0]?.display ?? gene?.text;
};
const profileOf = (resource) => (resource.meta?.profile?.[0] ?? '').split('/').pop();
const notesOf = (resource) => (resource.note || []).map((note) => note.text);
const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

// The result and sidecar written with `path`, when both lie beside it.
function outputsBeside(path) {
  const stem = path.slice(0, -'.fhir.json'.length);
  const sidecar = `${stem}.provenance.json`;
  let result = null;
  if (fs.existsSync(`${stem}.json`)) result = JSON.parse(fs.readFileSync(`${stem}.json`, 'utf8'));
  else if (fs.existsSync(`${stem}.json.gz`)) result = JSON.parse(zlib.gunzipSync(fs.readFileSync(`${stem}.json.gz`)));
  if (result === null || !fs.existsSync(sidecar)) return null;
  return { result, sidecar: JSON.parse(fs.readFileSync(sidecar, 'utf8')) };
}

// Every gene of the result where a reader of the Bundle looks for it: a
// call with a genotype or a phenotype as Observations carrying the gene's
// warnings as notes (and why a genotype has no phenotype), the rest named
// in the report's conclusion.
function resultFaults(bundle, outputs) {
  const faults = [];
  const resources = bundle.entry.map((entry) => entry.resource);
  const byUrl = new Map(bundle.entry.map((entry) => [entry.fullUrl, entry.resource]));
  const report = resources.find((resource) => resource.resourceType === 'DiagnosticReport');
  const sentences = (report.conclusion || '').split('. ');
  const named = (prefix) => (sentences.find((sentence) => sentence.startsWith(prefix)) || '').slice(prefix.length).split(', ');
  const genotypes = resources.filter((resource) => profileOf(resource) === 'genotype');
  const implications = resources.filter((resource) => profileOf(resource) === 'therapeutic-implication');
  outputs.result.forEach((gene, index) => {
    const warnings = outputs.sidecar.genes[index].warnings;
    const fault = (text) => faults.push(`${gene.Id}: ${text}`);
    const genotype = genotypes.find((observation) => geneOf(observation) === gene.Id);
    if (gene.StarAllele === null && gene.Activity === null) {
      if (genotype) fault('a gene with neither genotype nor phenotype has an Observation');
      if (!named('No genotype reported for: ').includes(gene.Id)) fault('not named in the conclusion');
      return;
    }
    if (!genotype) return fault('no genotype Observation');
    const text = `${gene.Id} ${gene.StarAllele ?? 'genotype not reported'}`;
    if (genotype.valueCodeableConcept.text !== text) fault(`genotype text is not "${text}"`);
    const implication = implications.find((observation) => byUrl.get(observation.derivedFrom[0].reference) === genotype);
    if ((gene.Activity !== null) !== Boolean(implication)) fault('an implication without an activity or the reverse');
    if (implication) {
      const findings = implication.component.map((component) => component.valueCodeableConcept.text);
      const expected = gene.Id.startsWith('HLA-')
        ? gene.Activity.split('; ').map((finding) => gene.Id + (finding.startsWith('*') ? '' : ' ') + finding)
        : [gene.Activity];
      if (!same(findings, expected)) fault(`implication findings ${JSON.stringify(findings)}`);
    }
    if (gene.StarAllele === null) {
      if (!named('Phenotype reported without a genotype for: ').includes(gene.Id)) fault('not named in the conclusion');
      if (!same(notesOf(implication), ['reported without a genotype', ...warnings])) fault('implication notes');
      if (genotype.note) fault('notes on a genotype that was not reported');
    } else {
      const notes = notesOf(genotype);
      const reason = gene.Activity === null ? notes.shift() : undefined;
      if (gene.Activity === null && !/^no phenotype: ./.test(reason ?? '')) fault('no "no phenotype: " note');
      if (!same(notes, warnings)) fault(`genotype notes ${JSON.stringify(notes)} are not the warnings`);
      if (implication?.note) fault('notes on the implication of a reported genotype');
    }
  });
  return faults;
}


const validator = new JSONSchemaValidator();

function check(path) {
  const failures = [];
  let bundle;
  try {
    bundle = JSON.parse(fs.readFileSync(path, 'utf8'));
  } catch (error) {
    return [`not readable JSON: ${error.message}`];
  }
  // The schema's oneOf over every resource type reports each mismatch once
  // per type; the deepest paths name the actual fault.
  const schemaErrors = validator.validate(bundle, true).map((error) => `${error.dataPath || '(root)'} ${error.message}`);
  const deepestFirst = [...new Set(schemaErrors)].sort((a, b) => b.split(' ')[0].length - a.split(' ')[0].length);
  for (const error of deepestFirst.slice(0, 5)) failures.push(`FHIR R4 schema: ${error}`);
  for (const [rule, expression] of RULES) {
    let outcome;
    try {
      outcome = fhirpath.evaluate(bundle, expression, null, r4);
    } catch (error) {
      outcome = [`error: ${error.message}`];
    }
    if (outcome.length !== 1 || outcome[0] !== true) failures.push(`${rule}: ${JSON.stringify(outcome)}`);
  }
  const urls = new Set(fhirpath.evaluate(bundle, 'Bundle.entry.fullUrl', null, r4));
  for (const reference of fhirpath.evaluate(bundle, 'Bundle.entry.resource.descendants().reference', null, r4)) {
    if (!urls.has(reference)) failures.push(`reference ${reference} does not resolve inside the Bundle`);
  }
  for (const entry of bundle.entry || []) {
    for (const fault of divFaults(entry.resource?.text?.div ?? '')) failures.push(`${entry.fullUrl} narrative ${fault}`);
  }
  // The run-level Provenance targets the report; each Observation is
  // targeted by the one Provenance of the file its record came from.
  const targeted = new Map();
  for (const provenance of (bundle.entry || []).map((entry) => entry.resource).filter((r) => r.resourceType === 'Provenance')) {
    for (const target of provenance.target) targeted.set(target.reference, (targeted.get(target.reference) || 0) + 1);
  }
  for (const entry of (bundle.entry || []).filter((e) => e.resource.resourceType === 'Observation')) {
    if (targeted.get(entry.fullUrl) !== 1) failures.push(`${entry.fullUrl} is not the target of exactly one Provenance`);
  }
  const outputs = path.endsWith('.fhir.json') ? outputsBeside(path) : null;
  if (outputs !== null) for (const fault of resultFaults(bundle, outputs)) failures.push(fault);
  return failures;
}

const paths = process.argv.slice(2);
if (paths.length === 0) {
  console.error('usage: check-fhir-bundles.js BUNDLE.json...');
  process.exit(2);
}
let failed = false;
for (const path of paths) {
  const failures = check(path);
  for (const failure of failures) console.error(`${path}: ${failure}`);
  failed = failed || failures.length > 0;
}
console.log(`${paths.length} Bundle(s) checked${failed ? ', with failures' : ': all pass'}`);
process.exit(failed ? 1 : 0);
