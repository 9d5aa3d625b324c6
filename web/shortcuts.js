// Keyboard shortcuts of the viewer and the overlay that lists them (`?`).
// Each binding: {keys: ['m'], label: 'Ruler', run(event)}; keys are
// KeyboardEvent.key values, with "Ctrl+" in front where Ctrl (or ⌘) is held.

function keyName(event) {
  return (event.ctrlKey || event.metaKey ? 'Ctrl+' : '') + event.key;
}

function typingInto(target) {
  return target && (target.isContentEditable ||
      ['INPUT', 'TEXTAREA', 'SELECT'].includes(target.tagName) && target.type !== 'checkbox');
}

export function installShortcuts(bindings, dialog) {
  const table = document.createElement('table');
  for (const binding of bindings) {
    const row = table.insertRow();
    const keys = row.insertCell();
    for (const key of binding.keys) {
      const kbd = document.createElement('kbd');
      kbd.textContent = key === ' ' ? 'Space' : key;
      keys.append(kbd, ' ');
    }
    row.insertCell().textContent = binding.label;
  }
  const heading = document.createElement('h2');
  heading.textContent = 'Keyboard shortcuts';
  const close = document.createElement('p');
  close.className = 'dismiss';
  close.textContent = 'Press ? or Esc to close.';
  const card = document.createElement('div');
  card.className = 'card';
  card.append(heading, table, close);
  dialog.replaceChildren(card);

  const toggle = (show) => {
    dialog.hidden = show === undefined ? !dialog.hidden : !show;
  };
  dialog.addEventListener('click', (event) => {
    if (event.target === dialog) toggle(false);  // a click beside the card
  });
  document.addEventListener('keydown', (event) => {
    if (event.altKey || typingInto(event.target)) return;
    const name = keyName(event);
    if (name === '?' || (name === 'Escape' && !dialog.hidden)) {
      toggle(name === '?' ? undefined : false);
      event.preventDefault();
      return;
    }
    if (!dialog.hidden) return;
    const binding = bindings.find((b) => b.keys.includes(name));
    if (!binding) return;
    if (binding.run(event) !== false) event.preventDefault();
  });
  return { toggle, keys: new Set(bindings.flatMap((b) => b.keys)) };
}
