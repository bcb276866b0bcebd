# The Group Policy template against the settings the service reads, both ways: every policy writes
# one value the service reads, under its policy key, with the registry type and range the service
# judges it by, and every setting the service reads has such a policy. The template is also held to
# the structure the Group Policy editor loads: the schema's order of elements, the attributes each
# needs, its texts and boxes in the en-US resource file.
#   policy_template.py CATALOGUE-PROGRAM POLICY-DEFINITIONS-FOLDER
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"
failures = []


def fail(message):
    failures.append(message)


def local(tag):
    return tag[len(NS):] if tag.startswith(NS) else tag


def children_in_order(element, allowed, where):
    """The children's names, each allowed and in the schema's order (a name may repeat)."""
    names = [local(child.tag) for child in element]
    last = -1
    for name in names:
        if name not in allowed:
            fail("%s: <%s> is not allowed there" % (where, name))
            continue
        if allowed.index(name) < last:
            fail("%s: <%s> comes after an element the schema puts behind it" % (where, name))
        last = max(last, allowed.index(name))
    return names


def reference(value, kind, where):
    """The id of a $(string.X) or $(presentation.X) reference."""
    prefix, suffix = "$(%s." % kind, ")"
    if not (value or "").startswith(prefix) or not value.endswith(suffix):
        fail("%s: %r is no $(%s.ID) reference" % (where, value, kind))
        return None
    return value[len(prefix):-1]


def number(element, name, default, where):
    text = element.get(name)
    if text is None:
        return default
    if not text.isdigit():
        fail("%s: %s=%r is not a number" % (where, name, text))
        return default
    return int(text)


def catalogue(program):
    """The service's own table: the policy key and NAME -> (TYPE, LOWEST, HIGHEST, COUNT)."""
    lines = subprocess.run([program], check=True, capture_output=True, text=True).stdout.splitlines()
    key = lines[0].split(" ", 1)[1]
    settings = {}
    for line in lines[1:]:
        name, kind, lowest, highest, count = line.split()
        settings[name] = (kind, int(lowest), int(highest), int(count))
    return key, settings


def element_row(element, where):
    """What one element writes: its value name and (TYPE, LOWEST, HIGHEST, COUNT)."""
    kind = local(element.tag)
    name = element.get("valueName")
    if not element.get("id") or not name:
        fail("%s: <%s> needs an id and a valueName" % (where, kind))
    if element.get("key") is not None:
        fail("%s: <%s> writes under a key of its own" % (where, kind))
    if kind == "decimal":
        if element.get("storeAsText", "false") != "false":
            fail("%s: a number stored as text is no REG_DWORD" % where)
        return name, ("REG_DWORD", number(element, "minValue", 0, where), number(element, "maxValue", 9999, where), 0)
    if kind == "enum":
        values = []
        for item in element:
            children_in_order(item, ["value", "valueList"], where + " item")
            reference(item.get("displayName"), "string", where + " item")
            numbers = item.findall(NS + "value/" + NS + "decimal")
            if len(numbers) != 1:
                fail("%s: an item's value is not one number" % where)
                continue
            values.append(number(numbers[0], "value", -1, where))
        if not values or sorted(values) != list(range(min(values), max(values) + 1)):
            fail("%s: the choices %s are not every number of a range" % (where, values))
            return name, ("REG_DWORD", -1, -1, 0)
        return name, ("REG_DWORD", min(values), max(values), 0)
    if kind == "text":
        expandable = element.get("expandable", "false") == "true"
        return name, ("REG_EXPAND_SZ" if expandable else "REG_SZ", 0, number(element, "maxLength", 1023, where), 0)
    if kind == "multiText":
        return name, ("REG_MULTI_SZ", 0, number(element, "maxLength", 1023, where),
                      number(element, "maxStrings", 0, where))
    fail("%s: <%s> is no element this check knows" % (where, kind))
    return name, None


CONTROLS = {"decimal": "decimalTextBox", "enum": "dropdownList", "text": "textBox", "multiText": "multiTextBox"}


def read_template(folder, key):
    """The policies' rows by value name, with the strings and presentations each policy needs."""
    root = ElementTree.parse(folder + "/ZynAsrService.admx").getroot()
    if root.tag != NS + "policyDefinitions" or not root.get("revision") or not root.get("schemaVersion"):
        fail("ZynAsrService.admx: the root is no <policyDefinitions> with a revision and a schemaVersion")
    children_in_order(root, ["policyNamespaces", "supersededAdm", "annotation", "resources", "supportedOn",
                             "categories", "policies"], "policyDefinitions")
    targets = root.findall(NS + "policyNamespaces/" + NS + "target")
    if len(targets) != 1 or not targets[0].get("prefix") or not targets[0].get("namespace"):
        fail("policyNamespaces: not one <target> with a prefix and a namespace")
    if root.find(NS + "resources") is None or not root.find(NS + "resources").get("minRequiredRevision"):
        fail("<resources> with a minRequiredRevision is missing")
    usings = {using.get("prefix") for using in root.findall(NS + "policyNamespaces/" + NS + "using")}
    strings, presentations, rows = set(), {}, {}
    categories = {category.get("name"): category for category in root.iter(NS + "category")}
    for name, category in categories.items():
        strings.add(reference(category.get("displayName"), "string", "category " + name))
        for parent in category.findall(NS + "parentCategory"):
            if parent.get("ref") not in categories:
                fail("category %s: its parent %s is not defined" % (name, parent.get("ref")))
    for policy in root.iter(NS + "policy"):
        where = "policy " + str(policy.get("name"))
        children_in_order(policy, ["parentCategory", "seeAlso", "keywords", "supportedOn", "enabledValue",
                                   "disabledValue", "enabledList", "disabledList", "elements"], where)
        if policy.get("class") != "Machine":
            fail("%s: class %s, not Machine: the service reads HKLM" % (where, policy.get("class")))
        if policy.get("key") != key:
            fail("%s: key %s, not the service's %s" % (where, policy.get("key"), key))
        if policy.get("valueName") is not None:
            fail("%s: writes a value of its own beside its element" % where)
        parent = policy.find(NS + "parentCategory")
        if parent is None or parent.get("ref") not in categories:
            fail("%s: no category of this template" % where)
        supported = policy.find(NS + "supportedOn")
        if supported is not None and ":" in supported.get("ref", "") and supported.get("ref").split(":")[0] not in usings:
            fail("%s: supportedOn names a namespace the template does not use" % where)
        strings.add(reference(policy.get("displayName"), "string", where))
        strings.add(reference(policy.get("explainText"), "string", where))
        elements = list(policy.find(NS + "elements") if policy.find(NS + "elements") is not None else [])
        if len(elements) != 1:
            fail("%s: %d elements, not one value" % (where, len(elements)))
            continue
        presentation = reference(policy.get("presentation"), "presentation", where)
        presentations[presentation] = (elements[0].get("id"), CONTROLS.get(local(elements[0].tag)), where)
        value, row = element_row(elements[0], where)
        if value in rows:
            fail("%s: %s is written by two policies" % (where, value))
        rows[value] = row
    return rows, strings, presentations


def check_resources(folder, strings, presentations):
    root = ElementTree.parse(folder + "/en-US/ZynAsrService.adml").getroot()
    if root.tag != NS + "policyDefinitionResources" or root.find(NS + "displayName") is None:
        fail("ZynAsrService.adml: the root is no <policyDefinitionResources> with a <displayName>")
    children_in_order(root, ["displayName", "description", "annotation", "resources"], "policyDefinitionResources")
    defined = {string.get("id") for string in root.iter(NS + "string")}
    for missing in sorted(s for s in strings if s is not None and s not in defined):
        fail("ZynAsrService.adml: no string %s" % missing)
    boxes = {presentation.get("id"): presentation for presentation in root.iter(NS + "presentation")}
    for name, (element, control, where) in presentations.items():
        if name not in boxes:
            fail("%s: no presentation %s" % (where, name))
            continue
        shown = [(local(box.tag), box.get("refId")) for box in boxes[name]]
        if shown != [(control, element)]:
            fail("%s: its presentation shows %s, not one %s for %s" % (where, shown, control, element))


def main():
    key, settings = catalogue(sys.argv[1])
    rows, strings, presentations = read_template(sys.argv[2], key)
    check_resources(sys.argv[2], strings, presentations)
    for name in sorted(set(settings) - set(rows)):
        fail("the service reads %s, but no policy sets it" % name)
    for name in sorted(set(rows) - set(settings)):
        fail("a policy sets %s, which the service does not read" % name)
    for name in sorted(set(rows) & set(settings)):
        if rows[name] != settings[name]:
            fail("%s: the policy writes %s, the service reads %s (type, lowest, highest, count)"
                 % (name, rows[name], settings[name]))
    for message in failures:
        print("FAIL " + message)
    print("policy template: %d policies, %d settings, %s" % (len(rows), len(settings),
                                                               "agree" if not failures else "%d faults" % len(failures)))
    return 1 if failures else 0


sys.exit(main())
